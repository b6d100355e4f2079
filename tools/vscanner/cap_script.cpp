// Parsing, encoding and describing the virtual scanner's scripted capability containers.
#include "tools/vscanner/cap_script.h"
#include "tools/vscanner/profile_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vs {
namespace {

constexpr NamedCode kContainers[] = {{"array", TWON_ARRAY}, {"enumeration", TWON_ENUMERATION}, {"enum", TWON_ENUMERATION},
                                 {"onevalue", TWON_ONEVALUE}, {"one", TWON_ONEVALUE}, {"range", TWON_RANGE}};
constexpr NamedCode kItemTypes[] = {{"int8", TWTY_INT8},     {"int16", TWTY_INT16},   {"int32", TWTY_INT32},
                                {"uint8", TWTY_UINT8},   {"uint16", TWTY_UINT16}, {"uint32", TWTY_UINT32},
                                {"bool", TWTY_BOOL},     {"fix32", TWTY_FIX32},   {"frame", TWTY_FRAME},
                                {"str32", TWTY_STR32},   {"str64", TWTY_STR64},   {"str128", TWTY_STR128},
                                {"str255", TWTY_STR255}};
constexpr NamedCode kCaps[] = {
    {"CAP_XFERCOUNT", CAP_XFERCOUNT},         {"ICAP_COMPRESSION", ICAP_COMPRESSION},
    {"ICAP_PIXELTYPE", ICAP_PIXELTYPE},       {"ICAP_UNITS", ICAP_UNITS},
    {"ICAP_XFERMECH", ICAP_XFERMECH},         {"CAP_FEEDERENABLED", CAP_FEEDERENABLED},
    {"CAP_FEEDERLOADED", CAP_FEEDERLOADED},   {"CAP_AUTOFEED", CAP_AUTOFEED},
    {"CAP_INDICATORS", CAP_INDICATORS},       {"CAP_UICONTROLLABLE", CAP_UICONTROLLABLE},
    {"CAP_DUPLEX", CAP_DUPLEX},               {"CAP_DUPLEXENABLED", CAP_DUPLEXENABLED},
    {"ICAP_AUTOBRIGHT", ICAP_AUTOBRIGHT},     {"ICAP_BRIGHTNESS", ICAP_BRIGHTNESS},
    {"ICAP_CONTRAST", ICAP_CONTRAST},         {"ICAP_GAMMA", ICAP_GAMMA},
    {"ICAP_HIGHLIGHT", ICAP_HIGHLIGHT},       {"ICAP_SHADOW", ICAP_SHADOW},
    {"ICAP_XRESOLUTION", ICAP_XRESOLUTION},   {"ICAP_YRESOLUTION", ICAP_YRESOLUTION},
    {"ICAP_TILES", ICAP_TILES},               {"ICAP_LIGHTPATH", ICAP_LIGHTPATH},
    {"ICAP_PIXELFLAVOR", ICAP_PIXELFLAVOR},   {"ICAP_PLANARCHUNKY", ICAP_PLANARCHUNKY},
    {"ICAP_SUPPORTEDSIZES", ICAP_SUPPORTEDSIZES}, {"ICAP_THRESHOLD", ICAP_THRESHOLD},
    {"ICAP_BITDEPTH", ICAP_BITDEPTH},
};
constexpr NamedCode kAnswers[] = {{"success", TWRC_SUCCESS}, {"failure", TWRC_FAILURE}, {"checkstatus", TWRC_CHECKSTATUS}};

constexpr std::size_t kItemSizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256};

std::size_t ItemSize(TW_UINT16 type)
{
    return type < std::size(kItemSizes) ? kItemSizes[type] : 0;
}

double Number(const std::string& s)
{
    return std::strtod(s.c_str(), nullptr);
}

// The bits of a value at its item type: integers truncated, TW_FIX32 rounded.
TW_UINT32 Bits(TW_UINT16 type, const std::string& text)
{
    const double x = Number(text);
    if (type == TWTY_FIX32) {
        const long n = std::lround(x * 65536.0);
        return (static_cast<TW_UINT32>(n >> 16) & 0xFFFF) | (static_cast<TW_UINT32>(n) & 0xFFFF) << 16;
    }
    return static_cast<TW_UINT32>(static_cast<long long>(x));
}

void Put(std::vector<TW_UINT8>& b, std::size_t at, TW_UINT32 v, std::size_t width)
{
    for (std::size_t i = 0; i < width && at + i < b.size(); ++i)
        b[at + i] = i < 4 ? static_cast<TW_UINT8>(v >> (8 * i)) : 0;
}

void PutItem(std::vector<TW_UINT8>& b, std::size_t at, TW_UINT16 type, const std::string& value)
{
    const std::size_t size = ItemSize(type);
    if (type >= TWTY_STR32 && type <= TWTY_STR255) {
        std::memcpy(b.data() + at, value.data(), std::min(value.size(), size));
    } else if (type == TWTY_FRAME) {
        for (int side = 0; side < 4; ++side)
            Put(b, at + 4 * side, Bits(TWTY_FIX32, value), 4);
    } else {
        Put(b, at, Bits(type, value), size);
    }
}

bool SetContainer(CapScript& s, std::string_view value)
{
    const auto words = Words(value);
    if (words.size() == 1 && SameWord(words[0], "null")) {
        s.nullHandle = true;
        return true;
    }
    if (words.size() < 2)
        return false;
    auto conType = NamedValue(words[0], kContainers);
    auto itemType = NamedValue(words[1], kItemTypes);
    if (!conType || !itemType)
        return false;
    s.nullHandle = false;
    s.conType = *conType;
    s.itemType = *itemType;
    s.values.clear();
    for (std::size_t i = 2; i < words.size(); ++i) {
        const std::string_view w = words[i];
        const std::size_t eq = w.find('=');
        if (eq == std::string_view::npos) {
            s.values.emplace_back(w);
            continue;
        }
        const std::string_view key = w.substr(0, eq), v = w.substr(eq + 1);
        // Enumeration indices are whole numbers; a range's current and default are values.
        const auto n = Integer(v);
        const auto index = static_cast<TW_UINT32>(n.value_or(0));
        if (SameWord(key, "count") && n) {
            s.count = index;
        } else if (SameWord(key, "current") && (n || s.conType == TWON_RANGE)) {
            s.current = index;
            s.rangeCurrent = std::string(v);
        } else if (SameWord(key, "default") && (n || s.conType == TWON_RANGE)) {
            s.defaultIndex = index;
            s.rangeDefault = std::string(v);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<TW_UINT16> CapCode(std::string_view name)
{
    return NamedValue(name, kCaps);
}

bool IsCapScriptKey(std::string_view key)
{
    return key.size() > 4 && SameWord(key.substr(0, 4), "cap.");
}

bool ApplyCapScript(std::vector<CapScript>& scripts, std::string_view key, std::string_view value)
{
    key.remove_prefix(4);
    const std::size_t dot = key.find('.');
    const std::string_view part = dot == std::string_view::npos ? std::string_view() : key.substr(dot + 1);
    auto cap = CapCode(key.substr(0, dot));
    if (!cap)
        return false;
    CapScript* s = nullptr;
    for (CapScript& existing : scripts) {
        if (existing.cap == *cap)
            s = &existing;
    }
    CapScript candidate;
    if (s)
        candidate = *s;
    candidate.cap = *cap;
    const auto words = Words(value);
    if (part.empty()) {
        if (!SetContainer(candidate, value))
            return false;
    } else {
        auto rc = words.size() == 1 ? NamedValue(words[0], kAnswers) : std::nullopt;
        if (!rc || !(SameWord(part, "get") || SameWord(part, "set")))
            return false;
        (SameWord(part, "get") ? candidate.getRc : candidate.setRc) = *rc;
    }
    if (s)
        *s = candidate;
    else
        scripts.push_back(candidate);
    return true;
}

std::vector<TW_UINT8> EncodeScript(const CapScript& s)
{
    const std::size_t size = ItemSize(s.itemType);
    const std::size_t n = s.values.size();
    const TW_UINT32 count = s.count.value_or(static_cast<TW_UINT32>(n));
    std::vector<TW_UINT8> b;
    std::size_t list = 0;
    switch (s.conType) {
    case TWON_ARRAY: list = 6; break;
    case TWON_ENUMERATION: list = 14; break;
    case TWON_RANGE:
        b.assign(22, 0);
        for (std::size_t i = 0; i < 3 && i < n; ++i)
            Put(b, 2 + 4 * i, Bits(s.itemType, s.values[i]), 4);
        Put(b, 14, n ? Bits(s.itemType, s.rangeDefault.value_or(s.values[0])) : 0, 4);
        Put(b, 18, n ? Bits(s.itemType, s.rangeCurrent.value_or(s.values[0])) : 0, 4);
        break;
    default:  // one value, and any unknown container type laid out like one
        b.assign(2 + std::max<std::size_t>(4, size), 0);
        if (n)
            PutItem(b, 2, s.itemType, s.values[0]);
        break;
    }
    if (list) {
        b.assign(list + n * size, 0);
        Put(b, 2, count, 4);
        if (s.conType == TWON_ENUMERATION) {
            Put(b, 6, s.current, 4);
            Put(b, 10, s.defaultIndex, 4);
        }
        for (std::size_t i = 0; i < n && size; ++i)
            PutItem(b, list + i * size, s.itemType, s.values[i]);
    }
    Put(b, 0, s.itemType, 2);
    return b;
}

const char* ContainerName(TW_UINT16 conType)
{
    switch (conType) {
    case TWON_ARRAY: return "ARRAY";
    case TWON_ENUMERATION: return "ENUMERATION";
    case TWON_ONEVALUE: return "ONEVALUE";
    case TWON_RANGE: return "RANGE";
    default: return "UNKNOWN";
    }
}

const char* ItemTypeName(TW_UINT16 itemType)
{
    static const char* const names[] = {"INT8",  "INT16", "INT32", "UINT8", "UINT16", "UINT32", "BOOL",
                                        "FIX32", "FRAME", "STR32", "STR64", "STR128", "STR255"};
    return itemType < std::size(names) ? names[itemType] : "UNKNOWN";
}

namespace {

TW_UINT32 Read(const TW_UINT8* p, std::size_t width)
{
    TW_UINT32 v = 0;
    for (std::size_t i = 0; i < width && i < 4; ++i)
        v |= static_cast<TW_UINT32>(p[i]) << (8 * i);
    return v;
}

std::string Fix32Text(TW_UINT32 bits)
{
    const double value = static_cast<TW_INT16>(bits & 0xFFFF) + (bits >> 16) / 65536.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// One item (or a 32-bit field holding a value of the type) as text.
std::string ValueText(TW_UINT16 type, const TW_UINT8* p)
{
    switch (type) {
    case TWTY_INT8: return std::to_string(static_cast<TW_INT8>(p[0]));
    case TWTY_INT16: return std::to_string(static_cast<TW_INT16>(Read(p, 2)));
    case TWTY_INT32: return std::to_string(static_cast<TW_INT32>(Read(p, 4)));
    case TWTY_UINT8: return std::to_string(p[0]);
    case TWTY_UINT16:
    case TWTY_BOOL: return std::to_string(Read(p, 2));
    case TWTY_UINT32: return std::to_string(Read(p, 4));
    case TWTY_FIX32: return Fix32Text(Read(p, 4));
    case TWTY_FRAME:
        return Fix32Text(Read(p, 4)) + ":" + Fix32Text(Read(p + 4, 4)) + ":" + Fix32Text(Read(p + 8, 4)) + ":" +
               Fix32Text(Read(p + 12, 4));
    default: {
        const std::size_t size = ItemSize(type);
        return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), size));
    }
    }
}

std::string ListText(TW_UINT16 type, const TW_UINT8* items, std::size_t room, TW_UINT32 count)
{
    const std::size_t size = ItemSize(type);
    const std::size_t fits = size ? room / size : 0;
    std::string text = "items=";
    for (std::size_t i = 0; i < count && i < fits; ++i)
        text += (i ? "," : "") + ValueText(type, items + i * size);
    if (count > fits)
        text += " NumItems=" + std::to_string(count) + " beyond the block";
    return text;
}

}  // namespace

std::string DescribeContainer(TW_UINT16 conType, const TW_UINT8* data, std::size_t size)
{
    if (!data)
        return "null";
    if (size < 2)
        return std::string(ContainerName(conType)) + " short block of " + std::to_string(size);
    const TW_UINT16 type = static_cast<TW_UINT16>(Read(data, 2));
    std::string text = std::string(ContainerName(conType)) + " " + ItemTypeName(type);
    const std::size_t header = conType == TWON_ARRAY ? 6 : conType == TWON_ENUMERATION ? 14 : conType == TWON_RANGE ? 22 : 6;
    if (size < header)
        return text + " short block of " + std::to_string(size);
    switch (conType) {
    case TWON_ARRAY: return text + " " + ListText(type, data + 6, size - 6, Read(data + 2, 4));
    case TWON_ENUMERATION:
        return text + " " + ListText(type, data + 14, size - 14, Read(data + 2, 4)) +
               " current=" + std::to_string(Read(data + 6, 4)) + " default=" + std::to_string(Read(data + 10, 4));
    case TWON_RANGE:
        if (type > TWTY_FIX32)  // its fields cannot hold such items
            return text;
        return text + " min=" + ValueText(type, data + 2) + " max=" + ValueText(type, data + 6) +
               " step=" + ValueText(type, data + 10) + " default=" + ValueText(type, data + 14) +
               " current=" + ValueText(type, data + 18);
    default:
        if (size < 2 + ItemSize(type))
            return text + " short block of " + std::to_string(size);
        return text + " items=" + ValueText(type, data + 2);
    }
}

}  // namespace vs
