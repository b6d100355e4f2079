#include "caps/container_bytes.h"

#include "twain/container_bytes.h"

namespace capbytes {

void Put(Bytes& b, std::size_t at, std::uint32_t v, std::size_t width)
{
    if (b.size() < at + width)
        b.resize(at + width);
    for (std::size_t i = 0; i < width; ++i)
        b[at + i] = i < 4 ? static_cast<std::uint8_t>(v >> (8 * i)) : 0;
}

namespace {

Bytes List(std::size_t header, TW_UINT16 itemType, const std::vector<std::uint32_t>& items)
{
    const std::size_t size = cbytes::ItemSize(itemType);
    Bytes b(header + items.size() * size, 0);
    Put(b, 0, itemType, 2);
    Put(b, 2, static_cast<std::uint32_t>(items.size()), 4);
    for (std::size_t i = 0; i < items.size(); ++i)
        Put(b, header + i * size, items[i], size);
    return b;
}

}  // namespace

Bytes Enumeration(TW_UINT16 itemType, const std::vector<std::uint32_t>& items, std::uint32_t current, std::uint32_t def)
{
    Bytes b = List(14, itemType, items);
    Put(b, 6, current, 4);
    Put(b, 10, def, 4);
    return b;
}

Bytes Array(TW_UINT16 itemType, const std::vector<std::uint32_t>& items)
{
    return List(6, itemType, items);
}

Bytes OneValue(TW_UINT16 itemType, std::uint32_t item)
{
    Bytes b(6, 0);
    Put(b, 0, itemType, 2);
    Put(b, 2, item, 4);
    return b;
}

Bytes Range(TW_UINT16 itemType, std::uint32_t min, std::uint32_t max, std::uint32_t step, std::uint32_t current,
            std::uint32_t def)
{
    Bytes b(22, 0);
    Put(b, 0, itemType, 2);
    Put(b, 2, min, 4);
    Put(b, 6, max, 4);
    Put(b, 10, step, 4);
    Put(b, 14, def, 4);
    Put(b, 18, current, 4);
    return b;
}

}  // namespace capbytes
