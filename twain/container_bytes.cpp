#include "twain/container_bytes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace cbytes {

static_assert(offsetof(TW_ARRAY, ItemList) == arrayHeader);
static_assert(offsetof(TW_ENUMERATION, NumItems) == offNumItems);
static_assert(offsetof(TW_ENUMERATION, CurrentIndex) == enumCurrent);
static_assert(offsetof(TW_ENUMERATION, DefaultIndex) == enumDefault);
static_assert(offsetof(TW_ENUMERATION, ItemList) == enumHeader);
static_assert(offsetof(TW_ONEVALUE, Item) == oneItem && sizeof(TW_ONEVALUE) == oneValueBytes);
static_assert(offsetof(TW_RANGE, MinValue) == rangeMin && offsetof(TW_RANGE, MaxValue) == rangeMax);
static_assert(offsetof(TW_RANGE, StepSize) == rangeStep && offsetof(TW_RANGE, DefaultValue) == rangeDefault);
static_assert(offsetof(TW_RANGE, CurrentValue) == rangeCurrent && sizeof(TW_RANGE) == rangeBytes);
static_assert(sizeof(TW_FRAME) == 16 && sizeof(TW_STR255) == 256 && sizeof(TW_STR32) == 34);

std::size_t ItemSize(std::uint32_t itemType)
{
    return itemType < itemSizes.size() ? itemSizes[itemType] : 0;
}

std::uint32_t ContainerBytes(std::uint32_t containerType, std::uint32_t itemType, std::uint32_t n)
{
    const std::uint64_t size = ItemSize(itemType);
    std::uint64_t bytes = 0;
    switch (containerType) {
    case TWON_ARRAY: bytes = 8 + n * size; break;
    case TWON_ENUMERATION: bytes = 16 + n * size; break;
    case TWON_ONEVALUE: bytes = size <= 4 ? oneValueBytes : size + 2; break;
    case TWON_RANGE: bytes = rangeBytes; break;
    default: return 0;
    }
    return bytes > UINT32_MAX ? 0 : static_cast<std::uint32_t>(bytes);
}

// Values out of the 32-bit range saturate instead of wrapping: a too large resolution
// becomes the largest one, never a negative one.
std::int32_t RoundToLong(double x)
{
    if (std::isnan(x))
        return 0;
    const double t = x >= 0 ? x + 0.5 : x - 0.5;
    if (t >= 2147483648.0)
        return INT32_MAX;
    if (t <= -2147483649.0)
        return INT32_MIN;
    return static_cast<std::int32_t>(t);
}

double Fix32BitsToDouble(std::uint32_t bits)
{
    const auto whole = static_cast<std::int16_t>(bits & 0xFFFF);
    const auto frac = bits >> 16;
    return (static_cast<std::int64_t>(whole) * 65536 + frac) / 65536.0;
}

std::uint32_t DoubleToFix32Bits(double x)
{
    const std::int32_t n = RoundToLong(x * 65536.0);
    const auto whole = static_cast<std::uint16_t>(n >> 16);
    const auto frac = static_cast<std::uint32_t>(n) & 0xFFFF;
    return whole | frac << 16;
}

namespace {

std::int64_t TruncateToInt64(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= 9223372036854775807.0)
        return INT64_MAX;
    if (x <= -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<std::int64_t>(x);
}

}  // namespace

double FieldToDouble(std::uint32_t itemType, std::uint32_t field)
{
    switch (itemType) {
    case TWTY_INT8: return static_cast<std::int8_t>(field & 0xFF);
    case TWTY_INT16: return static_cast<std::int16_t>(field & 0xFFFF);
    case TWTY_INT32: return static_cast<std::int32_t>(field);
    case TWTY_UINT8: return field & 0xFF;
    case TWTY_UINT16:
    case TWTY_BOOL: return field & 0xFFFF;
    case TWTY_UINT32: return field;
    case TWTY_FIX32: return Fix32BitsToDouble(field);
    default: return 0;
    }
}

std::uint32_t DoubleToField(std::uint32_t itemType, double x)
{
    const auto v = static_cast<std::uint64_t>(TruncateToInt64(x));
    switch (itemType) {
    case TWTY_INT8: return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(v & 0xFF)));
    case TWTY_INT16: return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(v & 0xFFFF)));
    case TWTY_INT32:
    case TWTY_UINT32: return static_cast<std::uint32_t>(v);
    case TWTY_UINT8: return v & 0xFF;
    case TWTY_UINT16:
    case TWTY_BOOL: return v & 0xFFFF;
    case TWTY_FIX32: return DoubleToFix32Bits(x);
    default: return 0;
    }
}

double ItemToDouble(std::uint32_t itemType, const std::uint8_t* item)
{
    switch (ItemSize(itemType)) {
    case 1: return FieldToDouble(itemType, item[0]);
    case 2: return FieldToDouble(itemType, LoadLE16(item));
    case 4: return FieldToDouble(itemType, LoadLE32(item));
    default: return 0;
    }
}

bool StoreItem(std::uint32_t itemType, std::uint8_t* item, double x)
{
    if (itemType > TWTY_FIX32)
        return false;
    const std::uint32_t v = DoubleToField(itemType, x);
    switch (itemSizes[itemType]) {
    case 1: item[0] = static_cast<std::uint8_t>(v); break;
    case 2: StoreLE16(item, static_cast<std::uint16_t>(v)); break;
    default: StoreLE32(item, v); break;
    }
    return true;
}

bool ItemTypesCompatible(std::uint32_t have, std::uint32_t want)
{
    if (have == want)
        return true;
    if (have > TWTY_UINT32 || want > TWTY_UINT32)
        return false;
    return itemSizes[have] == itemSizes[want];
}

}  // namespace cbytes
