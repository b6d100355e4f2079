// Editing containers in place: indices, items, strings, frames, deletion and insertion.
#include <algorithm>
#include <climits>
#include <cstring>

#include "twain/container_views.h"

namespace cbytes {

bool SetIndex(Block b, int n, bool current)
{
    if (auto range = RangeOf(b)) {
        if (n < 0 || n >= range->count)
            return false;
        StoreLE32(b.data + (current ? rangeCurrent : rangeDefault), DoubleToField(range->itemType, RangeItem(*range, n)));
        return true;
    }
    auto list = ListOf(b);
    if (b.type != TWON_ENUMERATION || !list || n < 0 || static_cast<std::uint32_t>(n) >= list->count)
        return false;
    StoreLE32(b.data + (current ? enumCurrent : enumDefault), static_cast<std::uint32_t>(n));
    return true;
}

bool SetValue(Block b, double x, bool current)
{
    const int n = FindValue(b, x);
    return n >= 0 && SetIndex(b, n, current);
}

namespace {

struct Target {
    std::uint16_t itemType;
    std::size_t itemSize;
    std::uint8_t* item;
};

// Item n of a one-value container or a list, when it exists.
std::optional<Target> EditTarget(Block b, int n)
{
    if (auto one = OneValueOf(b)) {
        if (n != 0)
            return std::nullopt;
        return Target{one->itemType, ItemSize(one->itemType), one->item};
    }
    auto list = ListOf(b);
    if (!list || n < 0 || static_cast<std::uint32_t>(n) >= list->count)
        return std::nullopt;
    return Target{list->itemType, list->itemSize, list->items + n * list->itemSize};
}

}  // namespace

bool SetItem(Block b, int n, double x)
{
    auto target = EditTarget(b, n);
    return target && StoreItem(target->itemType, target->item, x);
}

bool SetString(Block b, int n, const char* text)
{
    auto target = EditTarget(b, n);
    if (!target || !text)
        return false;
    const std::size_t length = strnlen(text, target->itemSize);
    std::memcpy(target->item, text, length);
    std::memset(target->item + length, 0, target->itemSize - length);
    return true;
}

bool SetFrame(Block b, int n, double left, double top, double right, double bottom)
{
    auto target = EditTarget(b, n);
    if (!target || target->itemType != TWTY_FRAME)
        return false;
    const double sides[] = {left, top, right, bottom};
    for (int i = 0; i < 4; ++i)
        StoreLE32(target->item + 4 * i, DoubleToFix32Bits(sides[i]));
    return true;
}

bool DeleteItem(Block b, int n)
{
    auto list = ListOf(b);
    if (!list || n < 0 || static_cast<std::uint32_t>(n) >= list->count)
        return false;
    std::uint8_t* at = list->items + n * list->itemSize;
    std::memmove(at, at + list->itemSize, (list->count - n - 1) * list->itemSize);
    StoreLE32(b.data + offNumItems, list->count - 1);
    return true;
}

std::uint32_t BytesForInsert(Block b)
{
    auto list = ListOf(b);
    if (!list || list->count >= INT_MAX)
        return 0;
    return ContainerBytes(b.type, list->itemType, list->count + 1);
}

int InsertItem(Block b, int n, double x)
{
    auto list = ListOf(b);
    if (!list || list->count >= INT_MAX || b.size - HeaderBytes(b.type) < (list->count + std::uint64_t{1}) * list->itemSize)
        return -1;
    const std::uint32_t count = list->count;
    const std::uint32_t at = n < 0 || static_cast<std::uint32_t>(n) >= count ? count : static_cast<std::uint32_t>(n);
    std::uint8_t* slot = list->items + at * list->itemSize;
    std::memmove(slot + list->itemSize, slot, (count - at) * list->itemSize);
    StoreLE32(b.data + offNumItems, count + 1);
    // A frame or string item cannot be stored from a number: leave zeros, not stale bytes.
    std::memset(slot, 0, list->itemSize);
    return StoreItem(list->itemType, slot, x) ? 1 : 0;
}

}  // namespace cbytes
