// Fuzzes every byte-level container operation on a block a data source could send.
// Input: byte 0 picks the container type, bytes 1..4 an index and a mask, the rest is
// the block, copied to a heap buffer of exactly its size so that ASan sees any overrun.
#include <cstdint>
#include <cstring>
#include <vector>

#include "twain/container_bytes.h"

using namespace cbytes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const std::uint32_t type = 3 + data[0] % 5;  // the four containers and one unknown
    const int n = static_cast<std::int8_t>(data[1]);
    const std::uint32_t mask = data[2] | data[3] << 8;
    const std::uint32_t want = data[4] % 16;
    std::vector<std::uint8_t> bytes(data + 5, data + size);
    const auto fresh = [&] {
        bytes.assign(data + 5, data + size);
        return Block{type, bytes.empty() ? nullptr : bytes.data(), bytes.size()};
    };

    Block b = fresh();
    volatile double sink = 0;
    sink = sink + ItemCount(b) + Item(b, n).value_or(0) + FindValue(b, n) + Current(b).value_or(0) +
           Default(b).value_or(0) + RangeField(b, rangeStep).value_or(0) + EnumIndex(b, true).value_or(0);
    if (std::uint8_t* p = ItemPointer(b, n))
        sink = sink + *p;
    std::uint8_t out[256];
    CopyCurrentValue(b, want, out);

    SetIndex(fresh(), n, true);
    SetValue(fresh(), n, false);
    SetItem(fresh(), n, n * 1.5);
    SetString(fresh(), n, "fuzzed string item");
    SetFrame(fresh(), n, 1, 2, 3, 4);
    DeleteItem(fresh(), n);
    RestrictPixelTypes(fresh(), mask);

    // Insertion into a block grown the way the library grows it.
    b = fresh();
    if (std::uint32_t needed = BytesForInsert(b); needed > 0 && needed < (1u << 20)) {
        bytes.resize(needed + 128);
        InsertItem(Block{type, bytes.data(), bytes.size()}, n, n);
    }
    return 0;
}
