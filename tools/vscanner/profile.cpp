// Reading the virtual scanner's profile text.
#include "tools/vscanner/profile.h"
#include "tools/vscanner/profile_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>

namespace vs {
namespace {

constexpr NamedCode kPixelTypes[] = {{"bw", TWPT_BW},   {"gray", TWPT_GRAY}, {"rgb", TWPT_RGB},
                                {"palette", TWPT_PALETTE}, {"cmy", TWPT_CMY}, {"cmyk", TWPT_CMYK}};
constexpr NamedCode kMechs[] = {{"native", TWSX_NATIVE}, {"file", TWSX_FILE}, {"memory", TWSX_MEMORY}};
constexpr NamedCode kCompressions[] = {{"none", TWCP_NONE}, {"packbits", TWCP_PACKBITS}, {"group4", TWCP_GROUP4},
                                  {"jpeg", TWCP_JPEG}, {"lzw", TWCP_LZW}, {"png", TWCP_PNG}};
constexpr NamedCode kDuplex[] = {{"none", TWDX_NONE}, {"1pass", TWDX_1PASSDUPLEX}, {"2pass", TWDX_2PASSDUPLEX}};
constexpr NamedCode kFileFormats[] = {
    {"tiff", TWFF_TIFF}, {"pict", TWFF_PICT},   {"bmp", TWFF_BMP},           {"xbm", TWFF_XBM},   {"jfif", TWFF_JFIF},
    {"fpx", TWFF_FPX},   {"tiffmulti", TWFF_TIFFMULTI}, {"png", TWFF_PNG}, {"spiff", TWFF_SPIFF}, {"exif", TWFF_EXIF}};
constexpr NamedCode kConditions[] = {
    {"success", TWCC_SUCCESS},       {"bummer", TWCC_BUMMER},
    {"lowmemory", TWCC_LOWMEMORY},   {"nods", TWCC_NODS},
    {"maxconnections", TWCC_MAXCONNECTIONS}, {"operationerror", TWCC_OPERATIONERROR},
    {"badcap", TWCC_BADCAP},         {"badprotocol", TWCC_BADPROTOCOL},
    {"badvalue", TWCC_BADVALUE},     {"seqerror", TWCC_SEQERROR},
    {"baddest", TWCC_BADDEST},       {"capunsupported", TWCC_CAPUNSUPPORTED},
    {"capbadoperation", TWCC_CAPBADOPERATION}, {"capseqerror", TWCC_CAPSEQERROR},
    {"denied", TWCC_DENIED},         {"paperjam", TWCC_PAPERJAM},
    {"paperdoublefeed", TWCC_PAPERDOUBLEFEED}, {"checkdeviceonline", TWCC_CHECKDEVICEONLINE},
    {"filewriteerror", TWCC_FILEWRITEERROR},
};

// Words of the keys whose values are one of a few names, in the order of their enum.
template <typename E, std::size_t N>
bool Choice(std::string_view s, const std::string_view (&names)[N], E& out)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (SameWord(s, names[i])) {
            out = static_cast<E>(i);
            return true;
        }
    }
    return false;
}

constexpr std::string_view kCloseRequests[] = {"none", "before", "after", "instead", "done"};
constexpr std::string_view kNativeHandles[] = {"global", "dibsection", "pen", "null"};
constexpr std::string_view kPaddings[] = {"word", "byte", "odd"};
constexpr std::string_view kPaletteOrders[] = {"index", "reversed", "shuffled"};
constexpr std::string_view kStripFaults[] = {"none",          "past_right",    "past_bottom",
                                             "beyond_right",  "beyond_bottom", "rows_overflow",
                                             "bytes_per_row_overflow", "short_written", "no_pixels"};

// "info.<field>": what TW_IMAGEINFO reports instead of the truth, within the field's type.
struct InfoField {
    std::string_view name;
    std::optional<long> InfoOverrides::*field;
    long long low, high;
};
constexpr InfoField kInfoFields[] = {
    {"width", &InfoOverrides::width, INT32_MIN, INT32_MAX},
    {"length", &InfoOverrides::length, INT32_MIN, INT32_MAX},
    {"samples_per_pixel", &InfoOverrides::samplesPerPixel, INT16_MIN, INT16_MAX},
    {"bits_per_sample", &InfoOverrides::bitsPerSample, INT16_MIN, INT16_MAX},
    {"bits_per_pixel", &InfoOverrides::bitsPerPixel, INT16_MIN, INT16_MAX},
    {"planar", &InfoOverrides::planar, 0, UINT16_MAX},
    {"pixel_type", &InfoOverrides::pixelType, INT16_MIN, INT16_MAX},
    {"compression", &InfoOverrides::compression, 0, UINT16_MAX},
};

// "dib.<field>": a BITMAPINFOHEADER field of the native DIB, by its offset and size.
struct HeaderField {
    std::string_view name;
    int offset;
    int size;
};
constexpr HeaderField kHeaderFields[] = {
    {"biSize", 0, 4},          {"biWidth", 4, 4},         {"biHeight", 8, 4},         {"biPlanes", 12, 2},
    {"biBitCount", 14, 2},     {"biCompression", 16, 4},  {"biSizeImage", 20, 4},     {"biXPelsPerMeter", 24, 4},
    {"biYPelsPerMeter", 28, 4}, {"biClrUsed", 32, 4},     {"biClrImportant", 36, 4},
};

bool ApplyPrefixed(SourceProfile& p, std::string_view key, std::string_view value)
{
    const auto n = Integer(value);
    if (key.size() > 5 && SameWord(key.substr(0, 5), "info.")) {
        for (const InfoField& f : kInfoFields) {
            if (SameWord(key.substr(5), f.name) && n && *n >= f.low && *n <= f.high) {
                p.info.*f.field = static_cast<long>(*n);
                return true;
            }
        }
    } else if (key.size() > 4 && SameWord(key.substr(0, 4), "dib.")) {
        for (const HeaderField& f : kHeaderFields) {
            const long long high = f.size == 2 ? UINT16_MAX : UINT32_MAX;
            const long long low = f.size == 2 ? INT16_MIN : INT32_MIN;
            if (SameWord(key.substr(4), f.name) && n && *n >= low && *n <= high) {
                p.dibHeader.push_back(HeaderOverride{f.offset, f.size, static_cast<long>(*n)});
                return true;
            }
        }
    }
    return false;
}

std::optional<bool> Flag(std::string_view s)
{
    for (std::string_view yes : {"yes", "true", "on", "1"}) {
        if (SameWord(s, yes))
            return true;
    }
    for (std::string_view no : {"no", "false", "off", "0"}) {
        if (SameWord(s, no))
            return false;
    }
    return std::nullopt;
}

template <std::size_t N>
bool NamedList(std::string_view s, const NamedCode (&table)[N], std::vector<TW_UINT16>& out)
{
    std::vector<TW_UINT16> values;
    while (!(s = Trim(s)).empty()) {
        std::size_t end = s.find_first_of(" \t,");
        auto value = NamedValue(s.substr(0, end), table);
        if (!value)
            return false;
        values.push_back(*value);
        s = end == std::string_view::npos ? std::string_view() : s.substr(end + 1);
    }
    if (values.empty())
        return false;
    out = values;
    return true;
}

bool SetInt(std::string_view s, int& out, long long low, long long high)
{
    auto n = Integer(s);
    if (!n || *n < low || *n > high)
        return false;
    out = static_cast<int>(*n);
    return true;
}

// Page numbers from 1, space or comma separated.
bool SetPages(std::string_view s, std::bitset<kMostPages>& out)
{
    constexpr std::string_view kSeparators = " \t,";
    std::bitset<kMostPages> pages;
    for (std::size_t start; (start = s.find_first_not_of(kSeparators)) != std::string_view::npos;) {
        s.remove_prefix(start);
        const std::size_t end = std::min(s.size(), s.find_first_of(kSeparators));
        int page = 0;
        if (!SetInt(s.substr(0, end), page, 1, kMostPages))
            return false;
        pages.set(static_cast<std::size_t>(page - 1));
        s.remove_prefix(end);
    }
    if (pages.none())
        return false;
    out = pages;
    return true;
}

template <typename T>
bool Assign(std::optional<T> value, T& out)
{
    if (!value)
        return false;
    out = *value;
    return true;
}

bool SetEnableAnswer(std::string_view s, EnableAnswer& out)
{
    if (SameWord(s, "success"))
        out = EnableAnswer::Success;
    else if (SameWord(s, "checkstatus"))
        out = EnableAnswer::CheckStatus;
    else if (SameWord(s, "failure"))
        out = EnableAnswer::Failure;
    else
        return false;
    return true;
}

bool SetXferAnswer(std::string_view s, XferAnswer& out)
{
    if (SameWord(s, "xferdone") || SameWord(s, "done"))
        out = XferAnswer::Done;
    else if (SameWord(s, "cancel"))
        out = XferAnswer::Cancel;
    else if (SameWord(s, "failure"))
        out = XferAnswer::Failure;
    else
        return false;
    return true;
}

bool SetResolution(std::string_view s, double& out)
{
    int dpi = 0;
    if (!SetInt(s, dpi, 1, 10000))
        return false;
    out = dpi;
    return true;
}

bool SetXferCount(std::string_view s, TW_INT16& out)
{
    int n = 0;
    if (!SetInt(s, n, -1, 32767) || n == 0)
        return false;
    out = static_cast<TW_INT16>(n);
    return true;
}

struct Key {
    std::string_view name;
    bool (*set)(SourceProfile& p, std::string_view value);
};

constexpr Key kKeys[] = {
    {"name", [](SourceProfile& p, std::string_view v) { p.name = std::string(v.substr(0, 33)); return true; }},
    {"manufacturer", [](SourceProfile& p, std::string_view v) { p.manufacturer = std::string(v.substr(0, 33)); return true; }},
    {"family", [](SourceProfile& p, std::string_view v) { p.family = std::string(v.substr(0, 33)); return true; }},
    {"version", [](SourceProfile& p, std::string_view v) { p.versionInfo = std::string(v.substr(0, 33)); return true; }},
    {"width", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.width, 1, 20000); }},
    {"height", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.height, 1, 20000); }},
    {"bits", [](SourceProfile& p, std::string_view v) {
         int b = 0;
         if (!SetInt(v, b, 1, 32) || (b != 1 && b != 4 && b != 8 && b != 24 && b != 32))
             return false;
         p.bits = b;
         return true;
     }},
    {"pixel_type", [](SourceProfile& p, std::string_view v) {
         if (!Assign(NamedValue(v, kPixelTypes), p.pixelType))
             return false;
         p.bits = DefaultBits(p.pixelType);
         return true;
     }},
    {"resolution", [](SourceProfile& p, std::string_view v) { return SetResolution(v, p.resolution); }},
    {"pages", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.pages, 0, 10000); }},
    {"blank_pages", [](SourceProfile& p, std::string_view v) { return SetPages(v, p.blankPages); }},
    {"unknown_count", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.unknownCount); }},
    {"xfer_mechs", [](SourceProfile& p, std::string_view v) { return NamedList(v, kMechs, p.xferMechs); }},
    {"xfer_mech", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kMechs), p.xferMech); }},
    {"pixel_types", [](SourceProfile& p, std::string_view v) { return NamedList(v, kPixelTypes, p.pixelTypes); }},
    {"compressions", [](SourceProfile& p, std::string_view v) { return NamedList(v, kCompressions, p.compressions); }},
    {"feeder", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.feeder); }},
    {"feeder_enabled", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.feederEnabled); }},
    {"autofeed", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.autoFeed); }},
    {"duplex", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kDuplex), p.duplex); }},
    {"duplex_enabled", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.duplexEnabled); }},
    {"xfer_count", [](SourceProfile& p, std::string_view v) { return SetXferCount(v, p.xferCount); }},
    {"open_failure", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kConditions), p.openFailure); }},
    {"open_directory", [](SourceProfile& p, std::string_view v) { p.openDirectory = std::string(v); return true; }},
    {"open_needs_identity", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.openNeedsIdentity); }},
    {"enable_answer", [](SourceProfile& p, std::string_view v) { return SetEnableAnswer(v, p.enableAnswer); }},
    {"enable_failure", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kConditions), p.enableFailure); }},
    {"close_request_first", [](SourceProfile& p, std::string_view v) {
         const auto first = Flag(v);
         if (first)
             p.closeRequest = *first ? CloseRequest::Before : CloseRequest::None;
         return first.has_value();
     }},
    {"close_request", [](SourceProfile& p, std::string_view v) { return Choice(v, kCloseRequests, p.closeRequest); }},
    {"fail_after", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.failAfter, -1, 10000); }},
    {"endxfer_failures", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.endXferFailures, -1, 10000); }},
    {"endxfer_failure", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kConditions), p.endXferFailure); }},
    {"count_stuck", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.countStuck); }},
    {"scan_delay", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.scanDelay, -1, 600000); }},
    {"scans", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.scans, 1, 10000); }},
    {"buffer_size", [](SourceProfile& p, std::string_view v) {
         int n = 0;
         if (!SetInt(v, n, 1, 64 << 20))
             return false;
         p.bufferSize = static_cast<TW_UINT32>(n);
         return true;
     }},
    {"rows_per_strip", [](SourceProfile& p, std::string_view v) {
         int n = 0;
         if (!SetInt(v, n, 0, 100000))
             return false;
         p.strips.rowsPerStrip = static_cast<std::uint32_t>(n);
         return true;
     }},
    {"row_padding", [](SourceProfile& p, std::string_view v) { return Choice(v, kPaddings, p.strips.padding); }},
    {"planar", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.strips.planar); }},
    {"strip_fault", [](SourceProfile& p, std::string_view v) { return Choice(v, kStripFaults, p.strips.fault); }},
    {"strip_fault_at", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.strips.faultAt, 1, 1000000); }},
    {"cancel_at_strip", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.strips.cancelAt, 0, 1000000); }},
    {"palette_colors", [](SourceProfile& p, std::string_view v) { return SetInt(v, p.paletteColors, 0, 65535); }},
    {"palette_order", [](SourceProfile& p, std::string_view v) { return Choice(v, kPaletteOrders, p.paletteOrder); }},
    {"native_handle", [](SourceProfile& p, std::string_view v) { return Choice(v, kNativeHandles, p.nativeHandle); }},
    {"native_file", [](SourceProfile& p, std::string_view v) { p.nativeFile = std::string(v); return !v.empty(); }},
    {"native_block_size", [](SourceProfile& p, std::string_view v) {
         int n = 0;
         if (!SetInt(v, n, 0, 256 << 20))
             return false;
         p.dibBlockSize = n;
         return true;
     }},
    {"file_formats", [](SourceProfile& p, std::string_view v) { return NamedList(v, kFileFormats, p.fileFormats); }},
    {"file_format", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kFileFormats), p.fileFormat); }},
    {"file_name", [](SourceProfile& p, std::string_view v) {
         p.fileName = std::string(v.substr(0, 255));
         return !v.empty();
     }},
    {"xfer_answer", [](SourceProfile& p, std::string_view v) { return SetXferAnswer(v, p.xferAnswer); }},
    {"xfer_failure", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kConditions), p.xferFailure); }},
};

bool ApplyKey(SourceProfile& p, std::string_view key, std::string_view value)
{
    if (IsCapScriptKey(key))
        return ApplyCapScript(p.capScripts, key, value);
    if (key.find('.') != std::string_view::npos)
        return ApplyPrefixed(p, key, value);
    for (const Key& k : kKeys) {
        if (SameWord(key, k.name))
            return k.set(p, value);
    }
    return false;
}
}  // namespace

int DefaultBits(TW_UINT16 pixelType)
{
    switch (pixelType) {
    case TWPT_BW:
        return 1;
    case TWPT_GRAY:
    case TWPT_PALETTE:
        return 8;
    default:
        return 24;
    }
}

Profile ParseProfile(std::string_view text)
{
    Profile profile;
    SourceProfile defaults;
    SourceProfile* target = &defaults;
    int lineNumber = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        if (SameWord(line, "[source]")) {
            profile.sources.push_back(defaults);
            target = &profile.sources.back();
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !ApplyKey(*target, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))))
            profile.problems.push_back("line " + std::to_string(lineNumber) + ": " + std::string(line));
    }
    if (profile.sources.empty())
        profile.sources.push_back(defaults);
    return profile;
}

}  // namespace vs
