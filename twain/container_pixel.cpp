// Restricting a source's ICAP_PIXELTYPE answer to the pixel types of a mask.
#include <cmath>

#include "twain/container_views.h"

namespace cbytes {

namespace {

std::uint32_t PresentTypes(const std::uint8_t* list, std::uint32_t count)
{
    std::uint32_t present = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint16_t v = LoadLE16(list + 2 * i);
        if (v < 32)
            present |= 1u << v;
    }
    return present;
}

// Old current or default value of an enumeration: the item at the index, or item 0
// when the index names no item.
std::uint16_t Selected(const ListView& list, std::uint32_t index)
{
    return LoadLE16(list.items + 2 * (index < list.count ? index : 0));
}

std::uint32_t PositionOf(const ListView& list, std::uint32_t count, std::uint16_t value)
{
    for (std::uint32_t i = 0; i < count; ++i) {
        if (LoadLE16(list.items + 2 * i) == value)
            return i;
    }
    return 0;
}

PixelResult Fail(PixelOutcome outcome)
{
    return {outcome, 0, false};
}

PixelResult RestrictList(Block b, std::uint32_t mask)
{
    if (b.size < HeaderBytes(b.type))
        return Fail(PixelOutcome::badContainer);
    if (LoadLE32(b.data + offNumItems) == 0)
        return Fail(PixelOutcome::empty);
    const std::uint16_t itemType = LoadLE16(b.data + offItemType);
    if (itemType != TWTY_UINT16 && itemType != TWTY_INT16)
        return Fail(PixelOutcome::badItemType);
    auto list = ListOf(b);
    if (!list)
        return Fail(PixelOutcome::badContainer);  // NumItems beyond the block
    const bool isEnum = b.type == TWON_ENUMERATION;
    const std::uint16_t oldCurrent = isEnum ? Selected(*list, LoadLE32(b.data + enumCurrent)) : 0;
    const std::uint16_t oldDefault = isEnum ? Selected(*list, LoadLE32(b.data + enumDefault)) : 0;
    const std::uint32_t count = FilterPixelTypes(list->items, list->count, mask);
    StoreLE32(b.data + offNumItems, count);
    if (count == 0)
        return Fail(PixelOutcome::noCommonValues);
    if (isEnum) {
        StoreLE32(b.data + enumCurrent, PositionOf(*list, count, oldCurrent));
        StoreLE32(b.data + enumDefault, PositionOf(*list, count, oldDefault));
    }
    return {PixelOutcome::ok, 1, true};
}

// A one value is read by its item type; only a whole number 0..31 names a pixel type
// that a mask can hold.
PixelResult RestrictOneValue(Block b, std::uint32_t mask)
{
    auto one = OneValueOf(b);
    if (!one)
        return Fail(b.size < oneValueBytes ? PixelOutcome::badContainer : PixelOutcome::badItemType);
    if (one->itemType > TWTY_FIX32)
        return Fail(PixelOutcome::badItemType);
    const double v = FieldToDouble(one->itemType, LoadLE32(one->item));
    const std::uint32_t bit = v >= 0 && v < 32 && v == std::trunc(v) ? 1u << static_cast<int>(v) : 0;
    if ((mask & bit) == 0)
        return Fail(PixelOutcome::noCommonValues);
    return {PixelOutcome::ok, mask & bit, false};
}

}  // namespace

std::uint32_t FilterPixelTypes(std::uint8_t* list, std::uint32_t count, std::uint32_t mask)
{
    const std::uint32_t common = mask & PresentTypes(list, count);
    std::uint32_t n = 0;
    for (std::uint32_t t = 0; t < 32; ++t) {
        if (common & 1u << t)
            StoreLE16(list + 2 * n++, static_cast<std::uint16_t>(t));
    }
    return n;
}

PixelResult RestrictPixelTypes(Block b, std::uint32_t mask)
{
    if (!b.data)
        return Fail(PixelOutcome::badContainer);
    switch (b.type) {
    case TWON_ENUMERATION:
    case TWON_ARRAY: return RestrictList(b, mask);
    case TWON_ONEVALUE: return RestrictOneValue(b, mask);
    default: return Fail(PixelOutcome::badContainerType);
    }
}

}  // namespace cbytes
