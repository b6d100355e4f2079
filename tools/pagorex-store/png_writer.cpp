#include "png_writer.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {
void PutBig32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

bool WriteChunk(ByteSink& out, const char type[4], const uint8_t* data, uint32_t length)
{
    uint8_t head[8], tail[4];
    PutBig32(head, length);
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (length > 0)
        crc = crc32(crc, data, length);
    PutBig32(tail, uint32_t(crc));
    return out.Write(head, 8) && (length == 0 || out.Write(data, length)) && out.Write(tail, 4);
}

// The compressed rows, gathered into IDAT chunks of a few hundred KB.
class IdatChunks final : public ByteSink {
public:
    explicit IdatChunks(ByteSink& out) : out_(out) {}
    bool Write(const uint8_t* bytes, size_t count) override
    {
        pending_.insert(pending_.end(), bytes, bytes + count);
        return pending_.size() < kChunk || Flush();
    }
    bool Flush()
    {
        bool ok = pending_.empty() || WriteChunk(out_, "IDAT", pending_.data(), uint32_t(pending_.size()));
        pending_.clear();
        return ok;
    }

private:
    static constexpr size_t kChunk = 256 * 1024;
    ByteSink& out_;
    std::vector<uint8_t> pending_;
};

uint8_t ColourType(const DibExportPlan& plan)
{
    switch (plan.model) {
    case DibColorModel::Grey:
        return plan.invertedGrey ? 3 : 0;
    case DibColorModel::Palette:
        return 3;
    case DibColorModel::Rgb:
        return 2;
    default:
        return 6;
    }
}
}  // namespace

bool WritePng(const DibExportPlan& plan, ByteSink& out)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t header[13] = {};
    PutBig32(header, uint32_t(plan.width));
    PutBig32(header + 4, uint32_t(plan.height));
    header[8] = uint8_t(plan.bitDepth);
    header[9] = ColourType(plan);  // compression, filter method and interlace stay 0
    if (!out.Write(kSignature, 8) || !WriteChunk(out, "IHDR", header, 13))
        return false;
    if (header[9] == 3 && !WriteChunk(out, "PLTE", plan.Palette(), 3 * plan.paletteEntries))
        return false;
    if (plan.xPelsPerMeter > 0 && plan.yPelsPerMeter > 0) {
        uint8_t phys[9];
        PutBig32(phys, uint32_t(plan.xPelsPerMeter));
        PutBig32(phys + 4, uint32_t(plan.yPelsPerMeter));
        phys[8] = 1;  // the unit is the metre
        if (!WriteChunk(out, "pHYs", phys, 9))
            return false;
    }
    IdatChunks idat(out);
    return DeflateRows(plan, RowPart::All, true, idat) && idat.Flush() && WriteChunk(out, "IEND", nullptr, 0);
}
