#include "twain/strip_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dib/dib_bytes.h"

namespace strips {

namespace {

constexpr int kMaxPlanes = 8;  // TW_IMAGEINFO has eight BitsPerSample

// Reasons of the incompatibility report; the wording names the fields a driver's
// author looks at.
constexpr const char* kOffsetBeyondImage = "mx.YOffset > info.ImageLength!";
constexpr const char* kPastRightEdge = "mx.XOffset + mx.Columns > info.ImageWidth";
constexpr const char* kPastBottomEdge = "(mx.YOffset + mx.Rows) > info.ImageLength";
constexpr const char* kUnexpectedRowBytes = "unexpected mx.BytesPerRow";
constexpr const char* kBeyondBuffer = "mx.BytesPerRow * mx.Rows > mx.Memory.Length";
constexpr const char* kBeyondWritten = "mx.BytesPerRow * mx.Rows > mx.BytesWritten";
constexpr const char* kRowsBeyondBytes = "mx.Rows of mx.Columns pixels reach past the strip's bytes";

// Bits one source pixel takes in the strip data as it is read: the plane's own width
// where the copy converts pixel by pixel, else the DIB's depth (a plain copy of rows).
bool ConvertsPixels(const ImagePlan& plan)
{
    return (plan.planar && plan.depth >= 24) || plan.planeBits > plan.depth;
}

std::uint64_t SourceBitsPerPixel(const ImagePlan& plan)
{
    return std::uint64_t(ConvertsPixels(plan) ? plan.planeBits : plan.depth);
}

// Reads n (at most 32) bits starting at bit `at`, the most significant bit of a byte first.
std::uint32_t ReadBits(const std::uint8_t* p, std::uint64_t at, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++at)
        v = (v << 1) | ((p[at / 8] >> (7 - at % 8)) & 1u);
    return v;
}

void WriteBits(std::uint8_t* p, std::uint64_t at, int n, std::uint32_t v)
{
    for (int i = n - 1; i >= 0; --i, ++at) {
        const auto mask = std::uint8_t(0x80u >> (at % 8));
        if ((v >> i) & 1u)
            p[at / 8] |= mask;
        else
            p[at / 8] &= std::uint8_t(~mask);
    }
}

// Copies `bits` bits from the start of src to bit `at` of row, leaving the bits around
// them as they were (pixels of a neighbouring strip share a byte at depths below 8).
void CopyBits(std::uint8_t* row, std::uint64_t at, const std::uint8_t* src, std::uint64_t bits)
{
    if (at % 8 != 0) {
        for (std::uint64_t i = 0; i < bits; ++i)
            WriteBits(row, at + i, 1, (src[i / 8] >> (7 - i % 8)) & 1u);
        return;
    }
    std::uint8_t* out = row + at / 8;
    const std::size_t whole = std::size_t(bits / 8);
    std::memcpy(out, src, whole);
    if (const unsigned rest = unsigned(bits % 8)) {
        const auto keep = std::uint8_t(0xFFu >> rest);
        out[whole] = std::uint8_t((out[whole] & keep) | (src[whole] & ~keep));
    }
}

// A sample of `from` bits widened or narrowed to `to` bits (at most 16).
std::uint32_t Rescale(const std::uint8_t* src, std::uint64_t at, int from, int to)
{
    if (from >= to)
        return ReadBits(src, at, to);  // the most significant bits
    const std::uint32_t v = ReadBits(src, at, from);
    return std::uint32_t(std::uint64_t(v) * ((1u << to) - 1) / ((1u << from) - 1));
}

// Planar data into a DIB of 24 bits or more: each plane fills one colour sample of every
// pixel (plane 0 red, 1 green, 2 blue; the DIB keeps blue first). Further planes (an
// alpha plane) have no place in the DIB.
void StorePlaneRow(std::uint8_t* row, const ImagePlan& plan, int plane, std::uint32_t x, std::uint32_t columns,
                   const std::uint8_t* src)
{
    if (plane > 2)
        return;
    const int sampleBytes = plan.depth / 24;
    const int pixelBytes = plan.depth / 8;
    std::uint8_t* out = row + std::size_t(x) * pixelBytes + std::size_t(2 - plane) * sampleBytes;
    if (plan.planeBits == 8 * sampleBytes) {
        for (std::uint32_t j = 0; j < columns; ++j, out += pixelBytes, src += sampleBytes)
            std::memcpy(out, src, std::size_t(sampleBytes));
        return;
    }
    for (std::uint32_t j = 0; j < columns; ++j, out += pixelBytes) {
        const std::uint32_t v = Rescale(src, std::uint64_t(j) * plan.planeBits, plan.planeBits, 8 * sampleBytes);
        out[0] = std::uint8_t(v);
        if (sampleBytes == 2)
            out[1] = std::uint8_t(v >> 8);
    }
}

// Source pixels wider than the DIB's (32-bit RGBX into a 24-bit DIB): each DIB pixel
// takes the leading bits of its source pixel, so red, green and blue of RGBX data, which
// land as blue, green, red where the DIB wants them so.
void StoreWideRow(std::uint8_t* row, const ImagePlan& plan, std::uint32_t x, std::uint32_t columns,
                  const std::uint8_t* src)
{
    const int pixelBytes = plan.depth / 8, last = NeedsRedBlueSwap(plan) ? pixelBytes - 1 : 0;
    std::uint8_t* out = row + std::size_t(x) * pixelBytes;
    if (plan.planeBits % 8 == 0) {
        const int step = plan.planeBits / 8;
        for (std::uint32_t j = 0; j < columns; ++j, out += pixelBytes, src += step)
            for (int b = 0; b < pixelBytes; ++b)
                out[last ? last - b : b] = src[b];
        return;
    }
    for (std::uint32_t j = 0; j < columns; ++j, out += pixelBytes) {
        for (int b = 0; b < pixelBytes; ++b)
            out[last ? last - b : b] = std::uint8_t(ReadBits(src, std::uint64_t(j) * plan.planeBits + 8u * b, 8));
    }
}

const char* Refuse(StripCheck& check, const char* reason)
{
    check.action = Action::reject;
    check.report = reason;
    return reason;
}

}  // namespace

Refusal PlanImage(const TW_IMAGEINFO& info, ImagePlan* plan)
{
    *plan = ImagePlan{};
    if (info.ImageLength == -1)
        return Refusal::unknownLength;
    if (info.Compression != TWCP_NONE)
        return Refusal::compressed;
    if (info.PixelType < 0 || info.PixelType > TWPT_PALETTE)
        return Refusal::exoticPixelType;
    if (info.ImageWidth <= 0 || info.ImageLength <= 0)
        return Refusal::badSize;
    if (info.BitsPerPixel <= 0)
        return Refusal::noBits;
    plan->planar = info.Planar != 0;
    if (plan->planar && (info.SamplesPerPixel <= 0 || info.SamplesPerPixel > kMaxPlanes))
        return Refusal::badSamples;
    plan->planes = plan->planar ? info.SamplesPerPixel : 1;
    plan->planeBits = info.BitsPerPixel / plan->planes;
    if (plan->planeBits <= 0)
        return Refusal::noBits;
    plan->width = info.ImageWidth;
    plan->length = info.ImageLength;
    plan->depth = DibNormalizeDepth(info.BitsPerPixel);
    if (DibCreateBytes(plan->depth, plan->width, plan->length) < 0)
        return Refusal::tooLarge;
    plan->pixels = std::int64_t(plan->width) * plan->length;
    return Refusal::none;
}

void FormatRefusal(Refusal refusal, const TW_IMAGEINFO& info, char* out, std::size_t size)
{
    const long width = info.ImageWidth, length = info.ImageLength;
    switch (refusal) {
    case Refusal::none:
        std::snprintf(out, size, "%s", "");
        break;
    case Refusal::unknownLength:
        std::snprintf(out, size, "%s", "ACQR: Unable to transfer unknown length image.");
        break;
    case Refusal::compressed:
        std::snprintf(out, size, "%s", "ACQR: Unable to transfer compressed memory data.");
        break;
    case Refusal::exoticPixelType:
        std::snprintf(out, size, "%s", "ACQR: Unable to transfer exotic pixel type: CMY,YUV,XYZ,...");
        break;
    case Refusal::badSize:
        std::snprintf(out, size, "ACQR: Unable to transfer an image of %ld x %ld pixels.", width, length);
        break;
    case Refusal::noBits:
        std::snprintf(out, size, "ACQR: Unable to transfer an image of %d bits per pixel in %d samples.",
                      int(info.BitsPerPixel), int(info.SamplesPerPixel));
        break;
    case Refusal::badSamples:
        std::snprintf(out, size, "ACQR: Unable to transfer planar data of %d samples per pixel.",
                      int(info.SamplesPerPixel));
        break;
    case Refusal::tooLarge:
        std::snprintf(out, size, "ACQR: Image too large to transfer: %ld x %ld pixels of %d bits.", width, length,
                      int(info.BitsPerPixel));
        break;
    }
}

void ClampStrip(const TW_IMAGEINFO& info, TW_IMAGEMEMXFER& mx)
{
    // Copies first: the structure is packed, its fields cannot be bound to references.
    const std::uint32_t rows = mx.Rows, columns = mx.Columns;
    mx.Rows = std::min(rows, std::uint32_t(info.ImageLength) - mx.YOffset);
    mx.Columns = std::min(columns, std::uint32_t(info.ImageWidth) - mx.XOffset);
}

namespace {
// Whether the strip lies inside the image: null, with rows cut to it, or the reason it does not.
const char* StripPlace(const ImagePlan& plan, const TW_IMAGEMEMXFER& mx, std::uint64_t& rows)
{
    const auto width = std::uint64_t(plan.width), length = std::uint64_t(plan.length);
    if (mx.YOffset > length)
        return kOffsetBeyondImage;
    if (mx.XOffset + std::uint64_t(mx.Columns) > width)
        return kPastRightEdge;
    if (mx.YOffset + rows > length) {
        // Drivers that count one row too many are common; more is a strip that does not fit.
        if (mx.YOffset + rows > length + 1)
            return kPastBottomEdge;
        --rows;
    }
    return nullptr;
}

// Only bytes inside the buffer the library handed over, and inside what the source says it
// wrote there, are read: null when the strip's rows lie there, else the reason they do not.
const char* StripBytes(const TW_IMAGEMEMXFER& mx, std::uint32_t bufferLength, std::uint64_t rows,
                       std::uint64_t rowBytes)
{
    const std::uint64_t claimed = std::uint64_t(mx.BytesPerRow) * mx.Rows;
    std::uint64_t limit = bufferLength;
    if (claimed > bufferLength)
        return kBeyondBuffer;
    if (mx.BytesWritten != TWON_DONTCARE32) {
        if (claimed > mx.BytesWritten)
            return kBeyondWritten;
        limit = std::min(limit, std::uint64_t(mx.BytesWritten));
    }
    if (rows > 0 && (rows - 1) * mx.BytesPerRow + rowBytes > limit)
        return kRowsBeyondBytes;
    return nullptr;
}
}  // namespace

StripCheck CheckStrip(const ImagePlan& plan, const TW_IMAGEMEMXFER& mx, std::uint32_t sentColumns,
                      std::uint32_t bufferLength)
{
    StripCheck check;
    const std::uint64_t columns = mx.Columns;
    std::uint64_t rows = mx.Rows;
    if (columns * rows == 0)
        return check;  // nothing to copy
    if (const char* refusal = StripPlace(plan, mx, rows)) {
        Refuse(check, refusal);
        return check;
    }
    // Rows padded to 32-bit words or to bytes are what sources send; any other
    // BytesPerRow is reported once. The padding is that of the columns the source sent,
    // so a strip cut at the right edge is not reported. The rows lie BytesPerRow apart in
    // every case: taking the shorter byte-padded length as the step would shear an image
    // whose rows carry extra padding.
    const std::uint64_t bits = std::uint64_t(sentColumns) * std::uint64_t(plan.planeBits);
    const std::uint64_t wordRow = (bits + 31) / 32 * 4;
    const std::uint64_t byteRow = (bits + 7) / 8;
    const char* unexpected = mx.BytesPerRow != wordRow && mx.BytesPerRow != byteRow ? kUnexpectedRowBytes : nullptr;
    const std::uint64_t rowBytes = (columns * SourceBitsPerPixel(plan) + 7) / 8;
    if (const char* refusal = StripBytes(mx, bufferLength, rows, rowBytes)) {
        Refuse(check, refusal);
        return check;
    }
    check.action = rows > 0 ? Action::store : Action::skip;
    check.report = unexpected;
    check.rows = std::uint32_t(rows);
    check.rowStep = mx.BytesPerRow;
    check.rowBytes = std::uint32_t(rowBytes);
    return check;
}

bool StoreStrip(std::uint8_t* dib, std::size_t dibSize, const ImagePlan& plan, const TW_IMAGEMEMXFER& mx,
                const StripCheck& check, const std::uint8_t* buffer, int plane)
{
    if (!DibIsSafe(dib, dibSize))
        return false;
    const DibLayout layout = DibReadLayout(dib);
    if (layout.compression != kBiRgb || layout.bitCount != plan.depth || layout.width != plan.width ||
        (layout.height != plan.length && layout.height != -plan.length))
        return false;
    if (check.action != Action::store)
        return true;
    if (std::uint64_t(mx.XOffset) + mx.Columns > std::uint64_t(plan.width) ||
        std::uint64_t(mx.YOffset) + check.rows > std::uint64_t(plan.length))
        return false;
    // DibIsSafe has put every row inside the block; image rows count from the top.
    const std::int64_t stride = RowBytes(layout.bitCount, layout.width);
    const bool bottomUp = layout.height > 0;
    const std::int64_t bits = std::int64_t(DibBitsOffset(layout));
    const std::uint64_t pieceBits = std::uint64_t(mx.Columns) * std::uint64_t(plan.depth);
    for (std::uint32_t r = 0; r < check.rows; ++r) {
        const std::int64_t y = std::int64_t(mx.YOffset) + r;
        std::uint8_t* row = dib + bits + (bottomUp ? plan.length - 1 - y : y) * stride;
        const std::uint8_t* src = buffer + std::size_t(r) * check.rowStep;
        if (plan.planar && plan.depth >= 24)
            StorePlaneRow(row, plan, plane, mx.XOffset, mx.Columns, src);
        else if (plan.planeBits > plan.depth)
            StoreWideRow(row, plan, mx.XOffset, mx.Columns, src);
        else if (NeedsRedBlueSwap(plan))
            DibCopyRedBlueSwapped(row + std::size_t(mx.XOffset) * 3, src, mx.Columns);
        else
            CopyBits(row, std::uint64_t(mx.XOffset) * std::uint64_t(plan.depth), src, pieceBits);
    }
    return true;
}

Progress StartProgress(const ImagePlan& plan)
{
    Progress progress;
    progress.remaining = plan.pixels;
    return progress;
}

Next Advance(const ImagePlan& plan, Progress& progress, std::int64_t pixels, bool lastStrip)
{
    progress.remaining -= pixels;
    if (lastStrip)
        return Next::done;
    if (pixels > 0) {
        progress.emptyStrips = 0;
    } else if (++progress.emptyStrips >= kMaxEmptyStrips) {
        return Next::stalled;
    }
    if (progress.remaining > 0)
        return Next::more;
    // The plane is complete; a planar image goes on with the next one.
    if (++progress.plane >= plan.planes)
        return Next::done;
    progress.remaining = plan.pixels;
    return Next::more;
}

StripOutcome TakeStrip(std::uint8_t* dib, std::size_t dibSize, const TW_IMAGEINFO& info, const ImagePlan& plan,
                       Progress& progress, TW_IMAGEMEMXFER& mx, const std::uint8_t* buffer,
                       std::uint32_t bufferLength, bool lastStrip)
{
    StripOutcome outcome;
    const std::uint32_t sentColumns = mx.Columns;
    ClampStrip(info, mx);
    const StripCheck check = CheckStrip(plan, mx, sentColumns, bufferLength);
    outcome.report = check.report;
    if (check.action == Action::reject || !StoreStrip(dib, dibSize, plan, mx, check, buffer, progress.plane)) {
        outcome.rejected = true;
        return outcome;
    }
    const std::int64_t pixels = check.action == Action::store ? std::int64_t(mx.Columns) * check.rows : 0;
    outcome.next = Advance(plan, progress, pixels, lastStrip);
    return outcome;
}

bool NeedsRedBlueSwap(const ImagePlan& plan)
{
    return plan.depth == 24 && !plan.planar;
}

int ApplyPalette(std::uint8_t* dib, std::size_t dibSize, const TW_PALETTE8& palette)
{
    const int count = std::min<int>(palette.NumColors, 256);
    int set = 0;
    for (int i = 0; i < count; ++i) {
        const TW_ELEMENT8& e = palette.Colors[i];
        if (DibMemSetColor(dib, dibSize, e.Index, e.Channel1, e.Channel2, e.Channel3))
            ++set;
    }
    return set;
}

std::size_t ToCrLf(const char* text, char* out, std::size_t size)
{
    if (size == 0)
        return 0;
    std::size_t n = 0;
    for (; text && *text; ++text) {
        const bool lineEnd = *text == '\n';
        if (n + (lineEnd ? 2 : 1) >= size)
            break;
        if (lineEnd)
            out[n++] = '\r';
        out[n++] = *text;
    }
    out[n] = '\0';
    return n;
}

}  // namespace strips
