// Fuzzes the memory transfer's strip code with what a source controls: the image info,
// the buffer size it prefers, and a sequence of strips (their TW_IMAGEMEMXFER fields and
// the bytes written into the buffer), then a palette.
// Input: 42 bytes TW_IMAGEINFO, 2 bytes buffer length, then per strip 26 bytes of
// TW_IMAGEMEMXFER (Compression to BytesWritten), 1 flag byte (bit 0: TWRC_XFERDONE),
// 2 bytes of data length and the data; what is left when no whole strip follows is the
// palette (NumColors, then elements).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dib/dib_bytes.h"
#include "twain/strip_bytes.h"

namespace {

constexpr std::int64_t kMaxDibBytes = 1 << 22;  // keeps each run quick
constexpr std::size_t kStripHeader = 26;

struct Reader {
    const std::uint8_t* p;
    std::size_t left;
    bool Take(void* out, std::size_t n)
    {
        if (left < n)
            return false;
        std::memcpy(out, p, n);
        p += n, left -= n;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader in{data, size};
    TW_IMAGEINFO info;
    std::uint16_t bufferLength = 0;
    if (!in.Take(&info, sizeof info) || !in.Take(&bufferLength, 2))
        return 0;

    strips::ImagePlan plan;
    char message[256];
    const strips::Refusal refusal = strips::PlanImage(info, &plan);
    strips::FormatRefusal(refusal, info, message, sizeof message);
    if (refusal != strips::Refusal::none || DibCreateBytes(plan.depth, plan.width, plan.length) > kMaxDibBytes)
        return 0;
    std::vector<std::uint8_t> dib(std::size_t(DibCreateBytes(plan.depth, plan.width, plan.length)));
    DibMemInit(dib.data(), plan.depth, plan.width, plan.length);
    const std::size_t tableEnd = std::size_t(DibBitsOffset(DibReadLayout(dib.data())));
    const std::vector<std::uint8_t> headerAndTable(dib.begin(), dib.begin() + std::ptrdiff_t(tableEnd));

    // Exactly the buffer the library hands over: ASan sees any read beyond it.
    std::vector<std::uint8_t> buffer(bufferLength);
    strips::Progress progress = strips::StartProgress(plan);
    std::uint8_t header[kStripHeader];
    while (in.left >= kStripHeader + 3) {
        std::uint8_t flags = 0;
        std::uint16_t n = 0;
        in.Take(header, kStripHeader);
        in.Take(&flags, 1);
        in.Take(&n, 2);
        TW_IMAGEMEMXFER mx{};
        std::memcpy(&mx, header, kStripHeader);
        const std::size_t copy = std::min<std::size_t>({std::size_t(n), in.left, buffer.size()});
        if (copy)
            std::memcpy(buffer.data(), in.p, copy);
        in.p += std::min<std::size_t>(n, in.left), in.left -= std::min<std::size_t>(n, in.left);
        const strips::StripOutcome o = strips::TakeStrip(dib.data(), dib.size(), info, plan, progress, mx,
                                                         buffer.empty() ? nullptr : buffer.data(),
                                                         bufferLength, flags & 1);
        if (o.rejected || o.next != strips::Next::more)
            break;
    }
    // Strips only ever land in the pixel rows.
    if (!DibIsSafe(dib.data(), dib.size()) || !std::equal(headerAndTable.begin(), headerAndTable.end(), dib.begin()))
        __builtin_trap();

    TW_PALETTE8 palette{};
    std::memcpy(&palette, in.p, std::min(in.left, sizeof palette));
    strips::ApplyPalette(dib.data(), dib.size(), palette);
    if (!DibIsSafe(dib.data(), dib.size()))
        __builtin_trap();

    char crlf[64];
    std::vector<char> text(in.p, in.p + in.left);
    text.push_back('\0');
    strips::ToCrLf(text.data(), crlf, sizeof crlf);
    return 0;
}
