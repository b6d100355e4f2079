#pragma once
// Builds packed DIBs of any header, consistent or not, for the tests (no windows.h).
#include <cstdint>
#include <cstring>
#include <vector>

#include "dib/dib_bytes.h"

struct DibShape {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t headerSize = 40;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    uint32_t clrUsed = 0;
};

inline void PutLE(std::vector<uint8_t>& v, size_t at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        v[at + i] = uint8_t(value >> (8 * i));
}

// A block holding the header, the colour table and the rows the header describes
// (resized by `extra` bytes, which may be negative); table entry i is (i, i+1, i+2)
// in blue, green, red and pixel byte k is k * 7 + 3. A header that describes more than
// 16 MB gets a block of 4 KB: no test block of that size can be safe anyway.
inline std::vector<uint8_t> BuildDib(const DibShape& s, long extra = 0)
{
    bool core = s.headerSize == 12;
    uint32_t colors = core ? (s.bitCount <= 8 ? 1u << s.bitCount : 0)
                           : (s.clrUsed ? s.clrUsed : s.bitCount <= 8 ? 1u << s.bitCount : 0);
    uint32_t entry = core ? 3 : 4;
    size_t table = s.headerSize;
    size_t bits = table + size_t(entry) * colors;
    int64_t rows = s.height < 0 ? -int64_t(s.height) : s.height;
    int64_t image = (int64_t(s.bitCount) * s.width + 31) / 32 * 4 * rows;
    int64_t total = int64_t(bits) + image + extra;
    if (total > (int64_t(1) << 24))
        total = 4096;
    if (total < 0)
        total = 0;
    std::vector<uint8_t> v(size_t(total) > 40 ? size_t(total) : 40);
    PutLE(v, 0, s.headerSize, 4);
    if (core) {
        PutLE(v, 4, uint32_t(s.width), 2);
        PutLE(v, 6, uint32_t(s.height), 2);
        PutLE(v, 8, 1, 2);
        PutLE(v, 10, s.bitCount, 2);
    } else {
        PutLE(v, 4, uint32_t(s.width), 4);
        PutLE(v, 8, uint32_t(s.height), 4);
        PutLE(v, 12, 1, 2);
        PutLE(v, 14, s.bitCount, 2);
        PutLE(v, 16, s.compression, 4);
        PutLE(v, 20, s.sizeImage, 4);
        PutLE(v, 32, s.clrUsed, 4);
    }
    size_t fit = v.size() > table ? (v.size() - table) / entry : 0;
    for (size_t i = 0; i < colors && i < fit; ++i)
        for (uint32_t c = 0; c < 3; ++c)
            v[table + entry * i + c] = uint8_t(i + c);
    for (size_t k = bits; k < v.size(); ++k)
        v[k] = uint8_t((k - bits) * 7 + 3);
    v.resize(size_t(total));
    return v;
}

// Names the last `bytes` bytes of a DIB with a version 5 header its embedded colour profile.
inline void EmbedProfile(std::vector<uint8_t>& v, uint32_t bytes)
{
    PutLE(v, 56, 0x4D424544, 4);  // PROFILE_EMBEDDED
    PutLE(v, 112, uint32_t(v.size()) - bytes, 4);
    PutLE(v, 116, bytes, 4);
}

// One bitmap of every depth and palette kind the program reads: what a round trip through
// any bitmap writer must keep.
inline const DibShape kEveryKindOfBitmap[] = {
    {33, 10, 1}, {5, 3, 4},  {7, -2, 8},    {4, 4, 8, 40, 0, 0, 16}, {5, 3, 16},      {5, 3, 24},
    {3, 2, 32},  {2, 2, 48}, {3, 3, 8, 12}, {2, 2, 24, 12},          {5, 3, 24, 124},
};
