// Any profile text parses without a fault, and every source it yields is usable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/vscanner/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vs::Profile p = vs::ParseProfile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (p.sources.empty())
        std::abort();
    for (const vs::SourceProfile& s : p.sources) {
        if (s.name.size() > 33 || s.width < 1 || s.height < 1 || s.xferMechs.empty() || s.pixelTypes.empty() ||
            s.compressions.empty())
            std::abort();
    }
    return 0;
}
