// Reading and editing CapContainer records through the byte-level container code.
#include <cmath>

#include "twain/container.h"

namespace {

using cbytes::Block;

bool Live(const CapContainer* c)
{
    return c && c->signature == CONTAINER_SIGNATURE;
}

}  // namespace

int TWAIN_ContainerType(CapContainer* c)
{
    return Live(c) ? static_cast<int>(c->type) : -1;
}

int TWAIN_ContainerItemType(CapContainer* c)
{
    auto type = cbytes::ItemType(TWAIN_ContainerBlock(c));
    return type ? *type : -1;
}

int TWAIN_ContainerItemCount(CapContainer* c)
{
    return cbytes::ItemCount(TWAIN_ContainerBlock(c));
}

double TWAIN_ContainerItem(CapContainer* c, int n)
{
    return cbytes::Item(TWAIN_ContainerBlock(c), n).value_or(-1.0);
}

long TWAIN_ContainerItemAsInt(CapContainer* c, int n)
{
    return RoundToLong(TWAIN_ContainerItem(c, n));
}

void* TWAIN_ContainerItemPointer(CapContainer* c, int n)
{
    return cbytes::ItemPointer(TWAIN_ContainerBlock(c), n);
}

int TWAIN_ContainerFindValue(CapContainer* c, double x)
{
    return cbytes::FindValue(TWAIN_ContainerBlock(c), x);
}

int TWAIN_ContainerHasValue(CapContainer* c, double x)
{
    return TWAIN_ContainerFindValue(c, x) >= 0 ? 1 : 0;
}

double TWAIN_ContainerCurrent(CapContainer* c)
{
    return cbytes::Current(TWAIN_ContainerBlock(c)).value_or(-1.0);
}

double TWAIN_ContainerDefault(CapContainer* c)
{
    return cbytes::Default(TWAIN_ContainerBlock(c)).value_or(-1.0);
}

int TWAIN_EnumCurrentIndex(CapContainer* c)
{
    auto index = cbytes::EnumIndex(TWAIN_ContainerBlock(c), true);
    return index ? static_cast<int>(*index) : -1;
}

int TWAIN_EnumDefaultIndex(CapContainer* c)
{
    auto index = cbytes::EnumIndex(TWAIN_ContainerBlock(c), false);
    return index ? static_cast<int>(*index) : -1;
}

double TWAIN_RangeMin(CapContainer* c)
{
    return cbytes::RangeField(TWAIN_ContainerBlock(c), cbytes::rangeMin).value_or(-1.0);
}

double TWAIN_RangeMax(CapContainer* c)
{
    return cbytes::RangeField(TWAIN_ContainerBlock(c), cbytes::rangeMax).value_or(-1.0);
}

double TWAIN_RangeStep(CapContainer* c)
{
    return cbytes::RangeField(TWAIN_ContainerBlock(c), cbytes::rangeStep).value_or(-1.0);
}

int TWAIN_SetCurrentIndex(CapContainer* c, int n)
{
    return cbytes::SetIndex(TWAIN_ContainerBlock(c), n, true);
}

int TWAIN_SetDefaultIndex(CapContainer* c, int n)
{
    return cbytes::SetIndex(TWAIN_ContainerBlock(c), n, false);
}

int TWAIN_SetCurrentValue(CapContainer* c, double x)
{
    return cbytes::SetValue(TWAIN_ContainerBlock(c), x, true);
}

int TWAIN_SetDefaultValue(CapContainer* c, double x)
{
    return cbytes::SetValue(TWAIN_ContainerBlock(c), x, false);
}

int TWAIN_SetContainerItem(CapContainer* c, int n, double x)
{
    return cbytes::SetItem(TWAIN_ContainerBlock(c), n, x);
}

int TWAIN_SetContainerString(CapContainer* c, int n, const char* text)
{
    return cbytes::SetString(TWAIN_ContainerBlock(c), n, text);
}

int TWAIN_SetContainerFrame(CapContainer* c, int n, double left, double top, double right, double bottom)
{
    return cbytes::SetFrame(TWAIN_ContainerBlock(c), n, left, top, right, bottom);
}

int TWAIN_DeleteContainerItem(CapContainer* c, int n)
{
    return cbytes::DeleteItem(TWAIN_ContainerBlock(c), n);
}

// Grows the handle by 128 bytes beyond the next item so that a run of insertions
// reallocates rarely; when it cannot grow, the old block stays locked and unchanged.
int TWAIN_InsertContainerItem(CapContainer* c, int n, double x)
{
    const std::uint32_t needed = cbytes::BytesForInsert(TWAIN_ContainerBlock(c));
    if (needed == 0)
        return 0;
    if (GlobalSize(c->handle) < needed) {
        GlobalUnlock(c->handle);
        HGLOBAL grown = needed <= UINT32_MAX - 128 ? GlobalReAlloc(c->handle, needed + 128, GMEM_MOVEABLE) : nullptr;
        if (grown)
            c->handle = grown;
        c->address = GlobalLock(c->handle);
        if (!grown || !c->address)
            return 0;
    }
    return cbytes::InsertItem(TWAIN_ContainerBlock(c), n, x) == 1 ? 1 : 0;
}

bool TWAIN_ItemTypesCompatible(int have, int want)
{
    if (have < 0 || want < 0)
        return have == want;
    return cbytes::ItemTypesCompatible(static_cast<std::uint32_t>(have), static_cast<std::uint32_t>(want));
}
