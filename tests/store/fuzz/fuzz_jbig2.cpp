// Any bytes as a black-and-white page (bytes 0 and 1 its width, 1 to 4096, and which value
// is black; the rest its rows) through the JBIG2 encoder and back through jbig2dec, exactly.
#include "tests/store/tool/jbig2_check.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int width = 1 + (data[0] | (data[1] & 0x0F) << 8);
    const size_t height = (size - 2) / ((size_t(width) + 7) / 8);
    const Jbig2Page page{width, int(height), data + 2, (data[1] & 0x80) != 0, 0, 0};
    std::vector<uint8_t> stream;
    if (height > 0 && (!EncodeJbig2(page, stream) || !jbig2check::Difference(page, stream).empty()))
        std::abort();
    return 0;
}
