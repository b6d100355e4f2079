// Any profile text parses without a fault, every source it yields is usable, and the
// strips, palette and files of its first source (on a small page) stay inside their
// buffers whatever the profile asks of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tools/vscanner/mem_strips.h"
#include "tools/vscanner/page.h"
#include "tools/vscanner/profile.h"

namespace {
void Strips(const vs::SourceProfile& s)
{
    const vs::PageFormat f{std::min(s.width, 64), std::min(s.height, 64), s.bits, s.pixelType, s.resolution,
                           s.paletteColors, s.blankPages};
    const std::uint32_t length = std::min<std::uint32_t>(s.bufferSize, 4096);
    std::vector<std::uint8_t> buffer(length);
    vs::StripCursor cursor;
    for (int i = 0; i < 300; ++i) {
        const vs::Strip strip = vs::NextStrip(f, 1, s.strips, cursor, buffer.data(), length);
        if (strip.bytesWritten > length)
            std::abort();
        if (strip.rc != TWRC_SUCCESS)
            break;
    }
    const TW_PALETTE8 palette = vs::PagePalette(f, s.paletteColors, s.paletteOrder);
    for (int i = 0; i < std::min<int>(palette.NumColors, 256); ++i) {
        if (!(vs::PageColor(f, palette.Colors[i].Index) == vs::Rgb{palette.Colors[i].Channel1, palette.Colors[i].Channel2,
                                                                   palette.Colors[i].Channel3}))
            std::abort();
    }
    if (vs::PageTiff(f, 0).empty() || vs::PageBitmapFile(f, 0).size() < 54)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vs::Profile p = vs::ParseProfile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (p.sources.empty())
        std::abort();
    for (const vs::SourceProfile& s : p.sources) {
        if (s.name.size() > 33 || s.width < 1 || s.height < 1 || s.xferMechs.empty() || s.pixelTypes.empty() ||
            s.compressions.empty() || s.fileFormats.empty() || s.bufferSize < 1)
            std::abort();
    }
    Strips(p.sources.front());
    return 0;
}
