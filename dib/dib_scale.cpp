// Area-average reduction of a page for the screen.
#include "dib/dib_scale.h"

#include "base/little_endian.h"
#include "dib/dib_pixels.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {
// Exact in integers: a page of `from` pixels along an axis reduced to `to`. Page pixel i
// spans [i * to, (i + 1) * to) in units of 1 / from of a new pixel, new pixel o spans
// [o * from, (o + 1) * from): each new pixel gathers `from` units, whole page pixels
// giving `to` each and those on its edges the part they cover.
struct Span {
    int left = -1, leftPart = 0;    // the page pixel cut by the new pixel's left edge
    int first = 0, end = 0;         // the page pixels wholly inside
    int right = -1, rightPart = 0;  // the one cut by its right edge
};

std::vector<Span> Spans(int from, int to)
{
    std::vector<Span> spans(static_cast<size_t>(to));
    for (int o = 0; o < to; ++o) {
        Span& s = spans[size_t(o)];
        const int64_t start = int64_t(o) * from, stop = start + from;
        s.first = int((start + to - 1) / to);
        s.end = int(stop / to);
        if (start % to != 0)
            s.left = int(start / to), s.leftPart = int((start / to + 1) * to - start);
        if (stop % to != 0 && stop / to < from)
            s.right = int(stop / to), s.rightPart = int(stop - stop / to * to);
    }
    return spans;
}

// The share each page row gives the new rows: into `to` with `first` units, into `to + 1`
// with `second`.
struct Share {
    int to;
    uint32_t first, second;
};

std::vector<Share> Shares(int from, int to)
{
    std::vector<Share> shares(static_cast<size_t>(from));
    for (int i = 0; i < from; ++i) {
        const int64_t start = int64_t(i) * to, end = start + to, boundary = (start / from + 1) * from;
        const int64_t first = std::min(end, boundary) - start;
        shares[size_t(i)] = Share{int(start / from), uint32_t(first), uint32_t(to - first)};
    }
    return shares;
}

struct Plan {
    DibPixels pixels;
    int width = 0, height = 0;  // of the copy
    int channels = 3;           // averaged: 1 for a page of greys
    int64_t stride = 0;
    uint64_t bytes = 0;
};

// Pages of few colours that are all greys (black and white among them) shrink to grey.
bool AllGrey(const DibPixels& p)
{
    if (p.frame.layout.bitCount > 8)
        return false;
    for (uint32_t i = 0; i < p.tableEntries; ++i)
        if (p.table[i][0] != p.table[i][1] || p.table[i][1] != p.table[i][2])
            return false;
    return true;  // indices past the table are black
}

bool MakePlan(const uint8_t* dib, size_t size, int width, int height, Plan& p)
{
    if (!DibReadPixels(dib, size, p.pixels) || width <= 0 || height <= 0 || width > p.pixels.frame.width ||
        height > p.pixels.frame.rows)
        return false;
    p.width = width, p.height = height;
    p.channels = AllGrey(p.pixels) ? 1 : 3;
    p.stride = RowBytes(32, width);
    p.bytes = kInfoHeaderBytes + uint64_t(p.stride) * uint64_t(height);
    return true;
}

void WriteHeader(const Plan& p, const uint8_t* dib, uint8_t* out)
{
    std::memset(out, 0, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kSize, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kWidth, uint32_t(p.width));
    StoreLE32(out + dibfield::kHeight, uint32_t(p.height));
    StoreLE16(out + dibfield::kPlanes, 1);
    StoreLE16(out + dibfield::kBitCount, 32);
    StoreLE32(out + dibfield::kSizeImage, uint32_t(p.stride * p.height));
    const DibFrame& f = p.pixels.frame;
    if (f.layout.headerSize != kCoreHeaderBytes) {
        const int64_t x = int32_t(LoadLE32(dib + dibfield::kXPelsPerMeter)),
                      y = int32_t(LoadLE32(dib + dibfield::kYPelsPerMeter));
        StoreLE32(out + dibfield::kXPelsPerMeter, uint32_t(x * p.width / f.width));
        StoreLE32(out + dibfield::kYPelsPerMeter, uint32_t(y * p.height / f.rows));
    }
}

// One row of the page (samples of C bytes) gathered across into each new pixel's units: a
// whole page pixel weighs `to`, the new pixel's total weight is the page's width, so a
// sum is at most 255 x that, which 32 bits hold.
template <int C>
void Across(const std::vector<Span>& spans, int to, const uint8_t* in, uint32_t* out)
{
    for (const Span& s : spans) {
        uint32_t sum[C] = {};
        for (const uint8_t* v = in + s.first * C, *end = in + s.end * C; v < end; v += C)
            for (int k = 0; k < C; ++k)
                sum[k] += v[k];
        for (int k = 0; k < C; ++k) {
            sum[k] *= uint32_t(to);
            if (s.left >= 0)
                sum[k] += uint32_t(in[s.left * C + k]) * uint32_t(s.leftPart);
            if (s.right >= 0)
                sum[k] += uint32_t(in[s.right * C + k]) * uint32_t(s.rightPart);
            *out++ = sum[k];
        }
    }
}

void Down(const std::vector<uint32_t>& line, uint32_t share, std::vector<uint64_t>& into)
{
    for (size_t i = 0; i < line.size(); ++i)
        into[i] += uint64_t(line[i]) * share;
}

// The sums of a new row, of width x height units each, as pixels of blue, green, red and a
// zero byte (a grey sum gives all three).
void Store(const Plan& p, const std::vector<uint64_t>& sums, int row, uint8_t* bits)
{
    uint8_t* line = bits + int64_t(p.height - 1 - row) * p.stride;
    const uint64_t whole = uint64_t(p.pixels.frame.width) * uint64_t(p.pixels.frame.rows);
    const int c = p.channels;
    for (int x = 0; x < p.width; ++x, line += 4) {
        const uint64_t* sum = &sums[size_t(x * c)];
        for (int k = 0; k < 3; ++k)
            line[2 - k] = uint8_t((sum[c == 1 ? 0 : k] + whole / 2) / whole);
        line[3] = 0;
    }
}

// New rows [firstRow, lastRow): the page's rows are read from the first that reaches into
// firstRow; a new row is stored once no later row of the page reaches into it.
void MakeRows(const Plan& p, int firstRow, int lastRow, uint8_t* bits)
{
    const int sourceRows = int(p.pixels.frame.rows), sourceWidth = int(p.pixels.frame.width);
    const std::vector<Span> across = Spans(sourceWidth, p.width);
    const std::vector<Share> down = Shares(sourceRows, p.height);
    const size_t count = size_t(p.width) * size_t(p.channels);
    std::vector<uint8_t> samples(size_t(sourceWidth) * size_t(p.channels));
    std::vector<uint32_t> line(count);
    std::vector<uint64_t> now(count), next(count);
    int current = firstRow;
    for (int y = int(int64_t(firstRow) * sourceRows / p.height); y < sourceRows && current < lastRow; ++y) {
        const Share& d = down[size_t(y)];
        if (p.channels == 1) {
            DibPixelsGrey(p.pixels, y, samples.data());
            Across<1>(across, p.width, samples.data(), line.data());
        } else {
            DibPixelsRGB(p.pixels, y, samples.data());
            Across<3>(across, p.width, samples.data(), line.data());
        }
        if (d.to == current) {
            Down(line, d.first, now);
            Down(line, d.second, next);
        } else {
            Down(line, d.second, now);  // the row above the band takes its first share
        }
        if (y + 1 == sourceRows || down[size_t(y + 1)].to > current) {
            Store(p, now, current, bits);
            now.swap(next);
            std::fill(next.begin(), next.end(), 0);
            ++current;
        }
    }
}
}  // namespace

uint64_t DibMemScaledBytes(const uint8_t* dib, size_t size, int width, int height)
{
    Plan p;
    return MakePlan(dib, size, width, height, p) ? p.bytes : 0;
}

bool DibMemScale(const uint8_t* dib, size_t size, int width, int height, uint8_t* out, size_t outSize, int firstRow,
                 int rows)
{
    Plan p;
    if (!MakePlan(dib, size, width, height, p) || outSize < p.bytes)
        return false;
    const int lastRow = rows < 0 ? height : std::min(height, firstRow + rows);
    if (firstRow < 0 || firstRow >= lastRow)
        return false;
    try {
        MakeRows(p, firstRow, lastRow, out + kInfoHeaderBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (firstRow == 0)
        WriteHeader(p, dib, out);
    return true;
}
