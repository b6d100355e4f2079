// Reading the virtual scanner's profile text.
#include "tools/vscanner/profile.h"
#include "tools/vscanner/profile_text.h"

#include <charconv>
#include <cctype>
#include <optional>

namespace vs {
namespace {

constexpr NamedCode kPixelTypes[] = {{"bw", TWPT_BW},   {"gray", TWPT_GRAY}, {"rgb", TWPT_RGB},
                                {"palette", TWPT_PALETTE}, {"cmy", TWPT_CMY}, {"cmyk", TWPT_CMYK}};
constexpr NamedCode kMechs[] = {{"native", TWSX_NATIVE}, {"file", TWSX_FILE}, {"memory", TWSX_MEMORY}};
constexpr NamedCode kCompressions[] = {{"none", TWCP_NONE}, {"packbits", TWCP_PACKBITS}, {"group4", TWCP_GROUP4},
                                  {"jpeg", TWCP_JPEG}, {"lzw", TWCP_LZW}, {"png", TWCP_PNG}};
constexpr NamedCode kDuplex[] = {{"none", TWDX_NONE}, {"1pass", TWDX_1PASSDUPLEX}, {"2pass", TWDX_2PASSDUPLEX}};
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
};

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

bool SetInt(std::string_view s, int& out, long low, long high)
{
    auto n = Integer(s);
    if (!n || *n < low || *n > high)
        return false;
    out = static_cast<int>(*n);
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
    {"enable_answer", [](SourceProfile& p, std::string_view v) { return SetEnableAnswer(v, p.enableAnswer); }},
    {"enable_failure", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kConditions), p.enableFailure); }},
    {"close_request_first", [](SourceProfile& p, std::string_view v) { return Assign(Flag(v), p.closeRequestFirst); }},
    {"xfer_answer", [](SourceProfile& p, std::string_view v) { return SetXferAnswer(v, p.xferAnswer); }},
    {"xfer_failure", [](SourceProfile& p, std::string_view v) { return Assign(NamedValue(v, kConditions), p.xferFailure); }},
};

bool ApplyKey(SourceProfile& p, std::string_view key, std::string_view value)
{
    if (IsCapScriptKey(key))
        return ApplyCapScript(p.capScripts, key, value);
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
