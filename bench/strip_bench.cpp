// Assembling an A4 page at 300 dpi, 24 bits, from the strips a source delivers into a
// buffer of its preferred size, through the memory transfer's own strip step (which swaps
// red and blue as it copies); against a memcpy of the page's bytes.
#include <cstring>
#include <vector>

#include "bench/bench.h"
#include "dib/dib.h"
#include "dib/dib_simd.h"
#include "twain/session.h"

namespace {

constexpr int kWidth = 2480;   // 210 mm at 300 dpi
constexpr int kLength = 3508;  // 297 mm at 300 dpi
constexpr int kRowBytes = kWidth * 3;

TW_IMAGEINFO A4Info()
{
    TW_IMAGEINFO info{};
    info.XResolution = info.YResolution = TW_FIX32{300, 0};
    info.ImageWidth = kWidth;
    info.ImageLength = kLength;
    info.SamplesPerPixel = 3;
    info.BitsPerSample[0] = info.BitsPerSample[1] = info.BitsPerSample[2] = 8;
    info.BitsPerPixel = 24;
    info.PixelType = TWPT_RGB;
    info.Compression = TWCP_NONE;
    return info;
}

// Every strip of the page through the library's strip step into dib.
void Assemble(HGLOBAL dib, const TW_IMAGEINFO& info, std::vector<std::uint8_t>& buffer)
{
    strips::ImagePlan plan;
    strips::PlanImage(info, &plan);
    strips::Progress progress = strips::StartProgress(plan);
    const int rowsPerStrip = int(buffer.size()) / kRowBytes;
    auto* bytes = reinterpret_cast<std::uint8_t*>(DibLock(dib));
    const std::size_t size = GlobalSize(dib);
    for (int y = 0; y < kLength; y += rowsPerStrip) {
        TW_IMAGEMEMXFER mx{};
        mx.Compression = TWCP_NONE;
        mx.BytesPerRow = kRowBytes;
        mx.Columns = kWidth;
        mx.Rows = std::uint32_t(std::min(rowsPerStrip, kLength - y));
        mx.YOffset = std::uint32_t(y);
        mx.BytesWritten = mx.Rows * kRowBytes;
        mx.Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, std::uint32_t(buffer.size()), buffer.data()};
        strips::Next next;
        TWAIN_StoreStrip(bytes, size, mx, info, plan, progress, y + rowsPerStrip >= kLength, &next);
    }
    DibUnlock(dib);
}

std::vector<bench::Row> Measure()
{
    std::vector<bench::Row> rows;
    const TW_IMAGEINFO info = A4Info();
    HGLOBAL dib = DibCreate(24, kWidth, kLength);
    const std::size_t pageBytes = std::size_t(kRowBytes) * kLength;
    std::vector<std::uint8_t> from(pageBytes, 0x5A), to(pageBytes, 0);
    for (std::uint32_t preferred : {16u * 1024, 64u * 1024}) {
        std::vector<std::uint8_t> buffer(preferred);
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = std::uint8_t(i * 7);
        const bench::Timing t = bench::BestOf([&] { Assemble(dib, info, buffer); },
                                              [&] { std::memcpy(to.data(), from.data(), pageBytes); });
        bench::Row row;
        row.name = "memory transfer A4 300 dpi RGB, " + std::to_string(preferred / 1024) + " KB strips";
        row.seconds = t.seconds;
        row.reference = "memcpy of the page's bytes";
        row.referenceSeconds = t.referenceSeconds;
        row.goal = 2.0;
        row.fastPath = DibHasSsse3() ? bench::FastPath::yes : bench::FastPath::no;
        rows.push_back(row);
    }
    DibFree(dib);
    return rows;
}

const bool registered = bench::Register(Measure, "strip");

}  // namespace
