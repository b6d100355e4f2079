// Arbitrary bytes through the run-length deflate that stores noisy pages: in two pieces, the
// first ending in a sync flush, the second ending the stream. zlib must inflate exactly the
// bytes back, or a stored page would be lost. Byte 0 chooses where the input is cut.
#include "store/core/run_deflate.h"

#include <zlib.h>

#include <cstdlib>
#include <vector>

namespace {
void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<uint8_t> InflateRaw(const std::vector<uint8_t>& in, size_t expected)
{
    std::vector<uint8_t> out(expected + 1);
    z_stream z{};
    Require(inflateInit2(&z, -15) == Z_OK);
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    Require(inflate(&z, Z_FINISH) == Z_STREAM_END);
    Require(z.avail_in == 0);
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    const size_t cut = bytes.size() * data[0] / 255;
    std::vector<uint8_t> out;
    pgz::DeflateRuns(bytes.first(cut), false, out);
    Require(out.size() >= 4 && out[out.size() - 2] == 0xFF && out[out.size() - 1] == 0xFF);
    pgz::DeflateRuns(bytes.subspan(cut), true, out);
    Require(InflateRaw(out, bytes.size()) == std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return 0;
}
