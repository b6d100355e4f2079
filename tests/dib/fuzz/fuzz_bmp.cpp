// Arbitrary bytes as a bitmap file: the file header, the safety check, and on every DIB
// the check accepts, each row operation over every row, each turn and the export's rows
// (ASan/UBSan watch the bounds); the turns and the red-blue swap also in their plain
// loops, which must give the bytes the SSSE3 ones give.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dib/dib_bytes.h"
#include "dib/dib_export.h"
#include "dib/dib_simd.h"
#include "dib/dib_turn.h"

namespace {
// A row operation the check promised would work must work.
void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void ExerciseRows(std::vector<uint8_t>& dib, const uint8_t* extra, size_t extraSize)
{
    DibLayout layout = DibReadLayout(dib.data());
    bool rows = layout.compression == kBiRgb || layout.compression == kBiBitfields;
    int height = layout.height < 0 ? -layout.height : layout.height;
    size_t stride = size_t(RowBytes(layout.bitCount, layout.width));
    std::vector<uint8_t> line(stride + 3 * size_t(layout.width), 0x5A);
    bool rgb = layout.bitCount == 1 || layout.bitCount == 4 || layout.bitCount == 8 ||
               layout.bitCount == 24;
    // The first and last rows are enough to reach both ends of the block.
    for (int r = 0; r < height; r = r < 8 || r >= height - 8 ? r + 1 : height - 8) {
        Require(DibMemReadRow(dib.data(), dib.size(), r, line.data()) == rows);
        Require(DibMemReadRowRGB(dib.data(), dib.size(), r, line.data()) == (rows && rgb));
        Require(DibMemWriteRow(dib.data(), dib.size(), r, line.data()) == rows);
        DibMemWriteRowChannel(dib.data(), dib.size(), r, line.data(), r % 3);
    }
    int32_t params[4] = {0, 0, layout.width, height};
    std::memcpy(params, extra, std::min(extraSize, sizeof params));
    int x = params[0] % (2 * kDibMaxSide), y = params[1] % (2 * kDibMaxSide);
    int width = params[2] % (2 * kDibMaxSide), count = std::abs(params[3] % 64);
    std::vector<uint8_t> src(size_t(count) * 16 + (width > 0 ? 6 * size_t(width) : 0) + 8, 0xC3);
    DibMemStoreRows(dib.data(), dib.size(), x, y, width, count, src.data(), 16);
    DibMemStorePlane(dib.data(), dib.size(), params[3] & 3, x, y, width, count, src.data(), 16);
    std::vector<uint8_t> plain = dib;
    Require(DibMemSwapRedBlue(dib.data(), dib.size()) == rows);
    dibUseSimd = false;
    DibMemSwapRedBlue(plain.data(), plain.size());
    dibUseSimd = true;
    Require(plain == dib);
    DibMemSetColor(dib.data(), dib.size(), params[0], 1, 2, 3);
    Require(DibMemFillGrayRamp(dib.data(), dib.size()));
    BmpFileHeader header;
    int64_t written = DibMemPrepareFile(dib.data(), dib.size(), &header);
    Require(written <= int64_t(dib.size()));
}

// A turn the check allows gives a DIB that every operation accepts, and a whole round of
// turns from there gives the same bytes again.
void ExerciseTurns(const std::vector<uint8_t>& dib)
{
    for (DibTurn turn : {DibTurn::kClockwise, DibTurn::kCounterClockwise, DibTurn::kHalf}) {
        uint64_t bytes = DibMemTurnedBytes(dib.data(), dib.size(), turn);
        if (bytes == 0 || bytes > (uint64_t(1) << 26))
            continue;
        std::vector<uint8_t> turned, round = dib;
        for (int i = 0; i < (turn == DibTurn::kHalf ? 3 : 5); ++i) {
            std::vector<uint8_t> next(DibMemTurnedBytes(round.data(), round.size(), turn));
            Require(!next.empty() && DibMemTurn(round.data(), round.size(), turn, next.data(), next.size()));
            Require(DibIsSafe(next.data(), next.size()));
            round.swap(next);
            if (i == 0)
                turned = round;
        }
        Require(round == turned);
        // The plain loops turn it into the very same bytes.
        std::vector<uint8_t> plain(turned.size());
        dibUseSimd = false;
        Require(DibMemTurn(dib.data(), dib.size(), turn, plain.data(), plain.size()));
        dibUseSimd = true;
        Require(plain == turned);
    }
}

// The rows the export reads, of the DIB or of the picture its runs expand to.
void ExerciseExport(const std::vector<uint8_t>& dib)
{
    std::vector<uint8_t> plain;
    const std::vector<uint8_t>* source = &dib;
    if (DibIsRle(dib.data(), dib.size())) {
        if (DibImageBytes(DibReadLayout(dib.data())) > (uint64_t(1) << 24))
            return;
        Require(DibMemExpandRle(dib.data(), dib.size(), plain) && DibIsSafe(plain.data(), plain.size()));
        source = &plain;
    }
    DibExportPlan plan;
    if (!DibExportPlanFor(source->data(), source->size(), plan))
        return;
    std::vector<uint8_t> row(plan.rowBytes);
    for (int r = 0; r < plan.height; r = r < 8 || r >= plan.height - 8 ? r + 1 : plan.height - 8)
        DibExportRow(plan, r, row.data());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kFileHeaderBytes)
        return 0;
    BmpFileHeader header = BmpParseFileHeader(data);
    int64_t dibBytes = BmpDibBytes(header);
    if (header.type != kBmpSignature || dibBytes < 0 || size_t(dibBytes) > size - kFileHeaderBytes)
        return 0;
    // A copy of exactly the announced bytes, so that ASan sees the block's true end.
    std::vector<uint8_t> dib(data + kFileHeaderBytes, data + kFileHeaderBytes + dibBytes);
    if (!DibIsSafe(dib.data(), dib.size()))
        return 0;
    // The drawing copy is made before the row operations change the pixels; a copy that
    // is made must itself draw as it is.
    uint64_t uprightBytes = DibMemUprightBytes(dib.data(), dib.size());
    if (uprightBytes != 0 && uprightBytes <= (uint64_t(1) << 26)) {
        std::vector<uint8_t> upright(static_cast<size_t>(uprightBytes));
        Require(DibMemMakeUpright(dib.data(), dib.size(), upright.data(), upright.size()));
        Require(DibMemDrawsAsIs(upright.data(), upright.size()));
    }
    ExerciseTurns(dib);
    ExerciseExport(dib);
    const uint8_t* rest = data + kFileHeaderBytes + dibBytes;
    ExerciseRows(dib, rest, size - kFileHeaderBytes - size_t(dibBytes));
    return 0;
}
