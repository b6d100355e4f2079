// Reading containers: checked views, item count, items, search, current and default.
#include <algorithm>
#include <climits>
#include <cmath>

#include "twain/container_views.h"

namespace cbytes {

std::size_t HeaderBytes(std::uint32_t containerType)
{
    switch (containerType) {
    case TWON_ARRAY: return arrayHeader;
    case TWON_ENUMERATION: return enumHeader;
    case TWON_ONEVALUE: return oneValueBytes;
    case TWON_RANGE: return rangeBytes;
    default: return 2;  // only ItemType is known
    }
}

std::optional<ListView> ListOf(Block b)
{
    if (!b.data || (b.type != TWON_ARRAY && b.type != TWON_ENUMERATION))
        return std::nullopt;
    const std::size_t header = HeaderBytes(b.type);
    if (b.size < header)
        return std::nullopt;
    const std::uint16_t itemType = LoadLE16(b.data + offItemType);
    const std::size_t size = ItemSize(itemType);
    const std::uint32_t count = LoadLE32(b.data + offNumItems);
    if (size == 0 || (b.size - header) / size < count)
        return std::nullopt;
    return ListView{itemType, size, count, b.data + header};
}

std::optional<OneValueView> OneValueOf(Block b)
{
    if (!b.data || b.type != TWON_ONEVALUE || b.size < oneValueBytes)
        return std::nullopt;
    const std::uint16_t itemType = LoadLE16(b.data + offItemType);
    const std::size_t size = ItemSize(itemType);
    if (size == 0 || b.size - oneItem < size)
        return std::nullopt;
    return OneValueView{itemType, b.data + oneItem};
}

namespace {

int StepCount(double min, double max, double step)
{
    double q = (max - min) / step;
    if (std::trunc(q) < q)
        q += 1;
    const double count = std::trunc(q) + 1;
    return count >= INT_MAX ? INT_MAX : static_cast<int>(count);
}

}  // namespace

std::optional<RangeView> RangeOf(Block b)
{
    if (!b.data || b.type != TWON_RANGE || b.size < rangeBytes)
        return std::nullopt;
    RangeView r{};
    r.itemType = LoadLE16(b.data + offItemType);
    if (r.itemType > TWTY_FIX32)
        return std::nullopt;
    r.min = FieldToDouble(r.itemType, LoadLE32(b.data + rangeMin));
    r.max = FieldToDouble(r.itemType, LoadLE32(b.data + rangeMax));
    r.step = FieldToDouble(r.itemType, LoadLE32(b.data + rangeStep));
    r.stepped = r.step > 0 && r.max >= r.min;
    r.count = r.stepped ? StepCount(r.min, r.max, r.step) : (r.max > r.min ? 2 : 1);
    return r;
}

double RangeItem(const RangeView& r, int n)
{
    if (!r.stepped)
        return n == 0 ? r.min : r.max;
    const double v = r.min + n * r.step;
    return v > r.max ? r.max : v;
}

std::optional<std::uint16_t> ItemType(Block b)
{
    if (!b.data || b.size < HeaderBytes(b.type))
        return std::nullopt;
    return LoadLE16(b.data + offItemType);
}

int ItemCount(Block b)
{
    if (auto list = ListOf(b))
        return list->count > INT_MAX ? INT_MAX : static_cast<int>(list->count);
    if (OneValueOf(b))
        return 1;
    if (auto range = RangeOf(b))
        return range->count;
    return -1;
}

namespace {

int Clamp(int n, int count)
{
    return std::clamp(n, 0, count - 1);
}

}  // namespace

std::optional<double> Item(Block b, int n)
{
    if (auto one = OneValueOf(b))
        return FieldToDouble(one->itemType, LoadLE32(one->item));
    if (auto range = RangeOf(b))
        return RangeItem(*range, Clamp(n, range->count));
    auto list = ListOf(b);
    const int count = ItemCount(b);
    if (!list || count <= 0)
        return std::nullopt;
    return ItemToDouble(list->itemType, list->items + Clamp(n, count) * list->itemSize);
}

std::uint8_t* ItemPointer(Block b, int n)
{
    if (auto one = OneValueOf(b))
        return one->item;
    auto list = ListOf(b);
    const int count = ItemCount(b);
    if (!list || count <= 0)
        return nullptr;
    return list->items + Clamp(n, count) * list->itemSize;
}

namespace {

// Items of a stepped range rise strictly, so only the neighbours of (x - min) / step
// and the last item can hold x.
int FindInRange(const RangeView& r, double x)
{
    const int last = r.count - 1;
    if (RangeItem(r, last) == x)
        return last;
    if (!r.stepped)
        return RangeItem(r, 0) == x ? 0 : -1;
    const double k = (x - r.min) / r.step;
    if (!(k >= 0) || k >= last)
        return -1;
    for (double candidate : {std::ceil(k), std::floor(k)}) {
        const int i = static_cast<int>(candidate);
        if (i < last && RangeItem(r, i) == x)
            return i;
    }
    return -1;
}

}  // namespace

int FindValue(Block b, double x)
{
    if (auto range = RangeOf(b))
        return FindInRange(*range, x);
    for (int i = ItemCount(b) - 1; i >= 0; --i) {
        if (Item(b, i) == x)
            return i;
    }
    return -1;
}

std::optional<std::uint32_t> EnumIndex(Block b, bool current)
{
    if (b.type != TWON_ENUMERATION || !ListOf(b))
        return std::nullopt;
    return LoadLE32(b.data + (current ? enumCurrent : enumDefault));
}

namespace {

// An enumeration's index must name one of its items; a range's value is taken as it is.
std::optional<double> Selected(Block b, bool current)
{
    if (auto one = OneValueOf(b))
        return FieldToDouble(one->itemType, LoadLE32(one->item));
    if (auto range = RangeOf(b))
        return FieldToDouble(range->itemType, LoadLE32(b.data + (current ? rangeCurrent : rangeDefault)));
    auto index = EnumIndex(b, current);
    auto list = ListOf(b);
    if (!index || *index >= list->count)
        return std::nullopt;
    return ItemToDouble(list->itemType, list->items + *index * list->itemSize);
}

}  // namespace

std::optional<double> Current(Block b)
{
    return Selected(b, true);
}

std::optional<double> Default(Block b)
{
    return Selected(b, false);
}

std::optional<double> RangeField(Block b, std::size_t offset)
{
    auto range = RangeOf(b);
    if (!range || offset + 4 > rangeBytes)
        return std::nullopt;
    return FieldToDouble(range->itemType, LoadLE32(b.data + offset));
}

bool CopyCurrentValue(Block b, std::uint32_t wantType, std::uint8_t* out)
{
    const std::size_t size = ItemSize(wantType);
    auto have = ItemType(b);
    if (size == 0 || !have || !ItemTypesCompatible(*have, wantType))
        return false;
    const std::uint8_t* from = nullptr;
    if (b.type == TWON_ENUMERATION) {
        auto list = ListOf(b);
        const std::uint32_t index = LoadLE32(b.data + enumCurrent);
        if (!list || index >= list->count)
            return false;
        from = list->items + index * size;
    } else if (b.type == TWON_ONEVALUE && b.size >= oneItem + size) {
        from = b.data + oneItem;
    } else if (b.type == TWON_RANGE && b.size >= rangeCurrent + size) {
        from = b.data + rangeCurrent;
    }
    if (!from)
        return false;
    std::copy_n(from, size, out);
    return true;
}

}  // namespace cbytes
