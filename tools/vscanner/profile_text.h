#pragma once
// Small text helpers shared by the profile reader and the scripted capabilities.

#include "twain/twain_defs.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace vs {

struct NamedCode {
    std::string_view name;
    TW_UINT16 code;
};

inline std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// Profiles are written by hand: names match whatever their letter case.
inline bool SameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A whole decimal number, or hexadecimal after "0x".
inline std::optional<long long> Integer(std::string_view s)
{
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    long long value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

// A name from the table, or a plain 16-bit number.
template <std::size_t N>
std::optional<TW_UINT16> NamedValue(std::string_view s, const NamedCode (&table)[N])
{
    for (const NamedCode& n : table) {
        if (SameWord(s, n.name))
            return n.code;
    }
    if (auto n = Integer(s); n && *n >= 0 && *n <= 0xFFFF)
        return static_cast<TW_UINT16>(*n);
    return std::nullopt;
}

// The words of s, separated by blanks and tabs.
inline std::vector<std::string_view> Words(std::string_view s)
{
    std::vector<std::string_view> words;
    while (true) {
        const std::size_t start = s.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            return words;
        s.remove_prefix(start);
        const std::size_t end = s.find_first_of(" \t");
        words.push_back(s.substr(0, end));
        s = end == std::string_view::npos ? std::string_view() : s.substr(end);
    }
}

}  // namespace vs
