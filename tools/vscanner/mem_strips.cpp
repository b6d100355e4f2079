// Laying out the strips of a buffered memory transfer, with the faults a profile plays.
#include "tools/vscanner/mem_strips.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vs {
namespace {
constexpr std::uint8_t kFiller = 0xA5;
constexpr std::uint32_t kPastRightColumns = 8;
constexpr std::uint32_t kPastBottomRows = 8;
constexpr std::uint32_t kBeyond = 5;
constexpr std::uint32_t kRowsOverflow = 10;

Strip Failure(TW_UINT16 condition)
{
    Strip s;
    s.rc = TWRC_FAILURE;
    s.condition = condition;
    return s;
}

// Writes rows of the page (and filler for the rows claimed beyond it) at the strip's
// row step; answers the bytes used, or 0 when not even one row fits.
std::uint32_t WriteRows(const PageFormat& f, int page, int plane, int firstRow, std::uint32_t realRows,
                        std::uint32_t claimedRows, std::uint32_t bytesPerRow, std::uint8_t* buffer)
{
    const std::size_t pixelBytes = (static_cast<std::size_t>(RowBits(f, plane >= 0)) + 7) / 8;
    std::vector<std::uint8_t> row(std::max<std::size_t>(bytesPerRow, pixelBytes));
    for (std::uint32_t r = 0; r < claimedRows; ++r) {
        std::fill(row.begin(), row.end(), kFiller);
        if (r < realRows)
            PageRow(f, page, firstRow + static_cast<int>(r), plane, row.data());
        std::memcpy(buffer + static_cast<std::size_t>(r) * bytesPerRow, row.data(), bytesPerRow);
    }
    return claimedRows * bytesPerRow;
}

// PackBits of each row; rows are dropped from the end until the result fits.
std::uint32_t CompressRows(std::uint8_t* buffer, std::uint32_t length, std::uint32_t bytesPerRow, std::uint32_t& rows)
{
    std::vector<std::uint8_t> packed;
    std::uint32_t kept = 0;
    for (; kept < rows; ++kept) {
        const std::vector<std::uint8_t> one = PackBits(buffer + static_cast<std::size_t>(kept) * bytesPerRow, bytesPerRow);
        if (packed.size() + one.size() > length)
            break;
        packed.insert(packed.end(), one.begin(), one.end());
    }
    rows = kept;
    std::memcpy(buffer, packed.data(), packed.size());
    return static_cast<std::uint32_t>(packed.size());
}
}  // namespace

bool IsPlanar(const PageFormat& f, const StripSettings& s)
{
    return s.planar && f.bits >= 24;
}

std::uint32_t StripRowBytes(const PageFormat& f, const StripSettings& s, std::uint32_t columns)
{
    const std::uint64_t bits = static_cast<std::uint64_t>(columns) * (IsPlanar(f, s) ? 8 : f.bits);
    const auto bytePadded = static_cast<std::uint32_t>((bits + 7) / 8);
    const auto wordPadded = static_cast<std::uint32_t>((bits + 31) / 32 * 4);
    switch (s.padding) {
    case RowPadding::Byte:
        return bytePadded;
    case RowPadding::Odd:
        return wordPadded + 1;  // neither word- nor byte-padded
    default:
        return wordPadded;
    }
}

Strip NextStrip(const PageFormat& f, int page, const StripSettings& s, StripCursor& c, std::uint8_t* buffer,
                std::uint32_t length)
{
    if (c.finished)
        return Failure(TWCC_SEQERROR);
    ++c.number;
    const bool faultHere = c.number == s.faultAt;
    if (s.cancelAt > 0 && c.number == s.cancelAt) {
        c.finished = true;
        Strip cancelled;
        cancelled.rc = TWRC_CANCEL;
        return cancelled;
    }

    const bool planar = IsPlanar(f, s);
    Strip strip;
    strip.plane = planar ? c.plane : -1;
    strip.compression = s.compression;
    strip.columns = static_cast<std::uint32_t>(f.width) + (s.fault == StripFault::PastRight ? kPastRightColumns : 0);
    strip.bytesPerRow = StripRowBytes(f, s, strip.columns);
    strip.yOffset = static_cast<std::uint32_t>(c.row);
    if (s.fault == StripFault::NoPixels && c.number >= s.faultAt) {
        strip.rows = 0;
        return strip;  // success, and the image comes no closer
    }

    const std::uint32_t fit = strip.bytesPerRow ? length / strip.bytesPerRow : 0;
    if (fit == 0) {
        --c.number;
        return Failure(TWCC_BADVALUE);  // the buffer cannot hold one row
    }
    const std::uint32_t left = static_cast<std::uint32_t>(f.height - c.row);
    std::uint32_t rows = std::min({fit, s.rowsPerStrip ? s.rowsPerStrip : fit, left});
    std::uint32_t claimed = rows;
    if (s.fault == StripFault::PastBottom && rows == left)
        claimed = std::min(fit, rows + kPastBottomRows);
    strip.bytesWritten = WriteRows(f, page, strip.plane, c.row, rows, claimed, strip.bytesPerRow, buffer);
    if (s.compression == TWCP_PACKBITS) {
        strip.bytesWritten = CompressRows(buffer, length, strip.bytesPerRow, claimed);
        rows = std::min(rows, claimed);
    }
    strip.rows = claimed;

    if (faultHere) {
        switch (s.fault) {
        case StripFault::BeyondRight:
            strip.xOffset = static_cast<std::uint32_t>(f.width) + kBeyond;
            break;
        case StripFault::BeyondBottom:
            strip.yOffset = static_cast<std::uint32_t>(f.height) + kBeyond;
            break;
        case StripFault::RowsOverflow:
            strip.rows = fit + kRowsOverflow;
            break;
        case StripFault::BytesPerRowOverflow:
            strip.bytesPerRow = length / strip.rows + 1;
            break;
        case StripFault::ShortWritten:
            strip.bytesWritten /= 2;
            break;
        default:
            break;
        }
    }

    c.row += static_cast<int>(rows);
    if (c.row >= f.height) {
        c.row = 0;
        if (++c.plane >= (planar ? 3 : 1)) {
            c.finished = true;
            strip.rc = TWRC_XFERDONE;
        }
    }
    return strip;
}

TW_PALETTE8 PagePalette(const PageFormat& f, int numColors, PaletteOrder order)
{
    TW_PALETTE8 palette{};
    palette.NumColors = static_cast<TW_UINT16>(numColors);
    palette.PaletteType = f.pixelType == TWPT_PALETTE ? TWPA_RGB : TWPA_GRAY;
    const int n = std::clamp(numColors, 0, 256);
    for (int i = 0; i < n; ++i) {
        int index = i;
        if (order == PaletteOrder::Shuffled && n % 7 != 0)
            index = (i * 7 + 3) % n;  // a permutation, as 7 does not divide n
        else if (order != PaletteOrder::Index)
            index = n - 1 - i;
        const Rgb c = PageColor(f, index);
        palette.Colors[i] = TW_ELEMENT8{static_cast<TW_UINT8>(index), c.red, c.green, c.blue};
    }
    return palette;
}

}  // namespace vs
