// CapContainer records: conversions, builders, wrapping, copying and freeing.
#include "twain/container.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/error_box.h"

static_assert(sizeof(CapContainer) == 8 + 2 * sizeof(void*), "two codes, a handle and its address");

double Fix32ToDouble(TW_FIX32 fix)
{
    std::uint32_t bits;
    std::memcpy(&bits, &fix, sizeof bits);
    return cbytes::Fix32BitsToDouble(bits);
}

TW_FIX32 DoubleToFix32(double x)
{
    const std::uint32_t bits = cbytes::DoubleToFix32Bits(x);
    TW_FIX32 fix;
    std::memcpy(&fix, &bits, sizeof fix);
    return fix;
}

long RoundToLong(double x)
{
    return cbytes::RoundToLong(x);
}

TW_UINT32 Fix32FromRatio(long numerator, long denominator)
{
    return cbytes::DoubleToFix32Bits(static_cast<double>(numerator) / static_cast<double>(denominator));
}

std::uint32_t ContainerBytes(int containerType, int itemType, int n)
{
    if (n < 0)
        return 0;
    return cbytes::ContainerBytes(static_cast<std::uint32_t>(containerType), static_cast<std::uint32_t>(itemType),
                                  static_cast<std::uint32_t>(n));
}

cbytes::Block TWAIN_ContainerBlock(const CapContainer* c)
{
    if (!c || c->signature != CONTAINER_SIGNATURE || !c->address)
        return cbytes::Block{0, nullptr, 0};
    return cbytes::Block{c->type, static_cast<std::uint8_t*>(c->address), GlobalSize(c->handle)};
}

CapContainer* TWAIN_WrapContainer(int containerType, HGLOBAL handle)
{
    void* address = handle ? GlobalLock(handle) : nullptr;
    auto* c = static_cast<CapContainer*>(std::malloc(sizeof(CapContainer)));
    if (address && c) {
        *c = CapContainer{CONTAINER_SIGNATURE, static_cast<std::uint32_t>(containerType), handle, address};
        return c;
    }
    if (!address)
        TWAIN_ErrorBox("DataSource bug: bad Container handle.");
    else
        GlobalUnlock(handle);
    if (handle)
        GlobalFree(handle);
    std::free(c);
    return nullptr;
}

namespace {

bool KnownItemType(int itemType)
{
    return itemType >= TWTY_INT8 && itemType <= TWTY_STR255;
}

// Allocates and wraps a container; a failed allocation reaches the wrapper as a null
// handle, which reports it.
CapContainer* Allocate(std::uint32_t type, int itemType, int n)
{
    const std::uint32_t bytes = ContainerBytes(static_cast<int>(type), itemType, n);
    HGLOBAL handle = bytes ? GlobalAlloc(GMEM_MOVEABLE, bytes) : nullptr;
    CapContainer* c = TWAIN_WrapContainer(static_cast<int>(type), handle);
    if (c)
        StoreLE16(static_cast<std::uint8_t*>(c->address), static_cast<std::uint16_t>(itemType));
    return c;
}

CapContainer* BuildList(std::uint32_t type, int itemType, int n)
{
    if (!KnownItemType(itemType) || n < 0)
        return nullptr;
    CapContainer* c = Allocate(type, itemType, n);
    if (!c)
        return nullptr;
    auto* p = static_cast<std::uint8_t*>(c->address);
    StoreLE32(p + cbytes::offNumItems, static_cast<std::uint32_t>(n));
    if (type == TWON_ENUMERATION) {
        StoreLE32(p + cbytes::enumCurrent, 0);
        StoreLE32(p + cbytes::enumDefault, 0);
    }
    return c;
}

}  // namespace

CapContainer* TWAIN_BuildOneValue(int itemType, double value)
{
    if (!KnownItemType(itemType))
        return nullptr;
    CapContainer* c = Allocate(TWON_ONEVALUE, itemType, 1);
    if (!c)
        return nullptr;
    // A frame or string item has no numeric form: send zeros rather than stale memory.
    auto* item = static_cast<std::uint8_t*>(c->address) + cbytes::oneItem;
    std::memset(item, 0, std::max<std::size_t>(4, cbytes::ItemSize(itemType)));
    StoreLE32(item, cbytes::DoubleToField(static_cast<std::uint32_t>(itemType), value));
    return c;
}

CapContainer* TWAIN_BuildRange(int itemType, double min, double max, double step)
{
    if (itemType < TWTY_INT8 || itemType > TWTY_FIX32)
        return nullptr;
    CapContainer* c = Allocate(TWON_RANGE, itemType, 0);
    if (!c)
        return nullptr;
    auto* p = static_cast<std::uint8_t*>(c->address);
    const auto field = [itemType](double x) { return cbytes::DoubleToField(static_cast<std::uint32_t>(itemType), x); };
    StoreLE32(p + cbytes::rangeMin, field(min));
    StoreLE32(p + cbytes::rangeMax, field(max));
    StoreLE32(p + cbytes::rangeStep, field(step));
    StoreLE32(p + cbytes::rangeDefault, field(min));
    StoreLE32(p + cbytes::rangeCurrent, field(min));
    return c;
}

CapContainer* TWAIN_BuildArray(int itemType, int n)
{
    return BuildList(TWON_ARRAY, itemType, n);
}

CapContainer* TWAIN_BuildEnumeration(int itemType, int n)
{
    return BuildList(TWON_ENUMERATION, itemType, n);
}

CapContainer* TWAIN_CopyContainer(CapContainer* c)
{
    const cbytes::Block b = TWAIN_ContainerBlock(c);
    if (!b.data)
        return nullptr;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, b.size);
    if (!handle)
        return nullptr;
    CapContainer* copy = TWAIN_WrapContainer(static_cast<int>(c->type), handle);
    if (copy)
        std::memcpy(copy->address, b.data, b.size);
    return copy;
}

void TWAIN_FreeContainer(CapContainer* c)
{
    if (!c || c->signature != CONTAINER_SIGNATURE)
        return;
    c->signature = 0;  // a stale pointer to the freed record must not pass as live
    GlobalUnlock(c->handle);
    GlobalFree(c->handle);
    std::free(c);
}
