// General capability operations: get, set, reset and reading the current value.
#include "twain/capability.h"

#include "twain/session.h"

namespace {

bool SourceOpen(const char* message)
{
    if (TWAIN_GetState() >= TWAIN_SOURCE_OPEN)
        return true;
    TWAIN_ErrorBox(message);
    return false;
}

CapContainer* GetCap(int cap, TW_UINT16 message)
{
    if (!SourceOpen("TWAIN_GetXXX below State 4."))
        return nullptr;
    TW_CAPABILITY capability{static_cast<TW_UINT16>(cap), TWON_DONTCARE16, nullptr};
    if (!TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, message, &capability)) {
        // A source may hand a container back with TWRC_CHECKSTATUS or a failure; it is
        // ours all the same.
        if (capability.hContainer)
            GlobalFree(capability.hContainer);
        return nullptr;
    }
    if (!capability.hContainer)
        return nullptr;
    return TWAIN_WrapContainer(capability.ConType, capability.hContainer);
}

// Builds a one-value container, sets it and frees it.
int SetOneValue(int cap, int itemType, double value)
{
    CapContainer* c = TWAIN_BuildOneValue(itemType, value);
    if (!c) {
        TWAIN_ErrorBox("Insufficient Memory");
        return 0;
    }
    const int result = TWAIN_SetCap(cap, c);
    TWAIN_FreeContainer(c);
    return result;
}

}  // namespace

CapContainer* TWAIN_Get(int cap)
{
    return GetCap(cap, MSG_GET);
}

CapContainer* TWAIN_GetDefault(int cap)
{
    return GetCap(cap, MSG_GETDEFAULT);
}

CapContainer* TWAIN_GetCurrent(int cap)
{
    return GetCap(cap, MSG_GETCURRENT);
}

int TWAIN_SetCap(int cap, CapContainer* c)
{
    if (!c || c->signature != CONTAINER_SIGNATURE)
        return 0;
    if (!SourceOpen("Setting capability in State < 4."))
        return 0;
    TW_CAPABILITY capability{static_cast<TW_UINT16>(cap), static_cast<TW_UINT16>(c->type), c->handle};
    return TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability) ? 1 : 0;
}

int TWAIN_SetCapOneValue(int cap, int itemType, long value)
{
    if (itemType < TWTY_INT8 || itemType >= TWTY_FIX32) {
        TWAIN_ErrorBox("TWAIN_SetCapOneValue: invalid item type.");
        return 0;
    }
    return SetOneValue(cap, itemType, static_cast<double>(value));
}

int TWAIN_SetCapFix32(int cap, double value)
{
    return SetOneValue(cap, TWTY_FIX32, value);
}

int TWAIN_SetCapRatio(int cap, long numerator, long denominator)
{
    return TWAIN_SetCapFix32(cap, static_cast<double>(numerator) / static_cast<double>(denominator));
}

// The TWAIN standard has the source answer a reset with the new current value in a
// container the application owns: it is freed here rather than leaked.
int TWAIN_Reset(int cap)
{
    if (!SourceOpen("TWAIN_Reset below State 4."))
        return 0;
    TW_CAPABILITY capability{static_cast<TW_UINT16>(cap), 0, nullptr};
    const bool ok = TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &capability);
    if (ok && capability.hContainer)
        GlobalFree(capability.hContainer);
    return ok ? 1 : 0;
}

int TWAIN_GetCurrentValue(int cap, int itemType, void* pVal)
{
    if (!TWAIN_ASSERT(pVal != NULL))
        return 0;
    if (!SourceOpen("Attempt to get capability value below State 4."))
        return 0;
    TW_CAPABILITY capability{static_cast<TW_UINT16>(cap), TWON_ONEVALUE, nullptr};
    const bool ok = TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &capability);
    HGLOBAL handle = capability.hContainer;
    void* address = handle ? GlobalLock(handle) : nullptr;
    bool copied = false;
    if (ok && address) {
        const cbytes::Block b{capability.ConType, static_cast<std::uint8_t*>(address), GlobalSize(handle)};
        copied = cbytes::CopyCurrentValue(b, static_cast<std::uint32_t>(itemType), static_cast<std::uint8_t*>(pVal));
    }
    if (address)
        GlobalUnlock(handle);
    if (handle)
        GlobalFree(handle);
    return copied ? 1 : 0;
}

// A container without a usable current value (an array, an enumeration whose index
// names no item) gives the fallback, not "true".
int TWAIN_GetCapBool(int cap, int fallback)
{
    CapContainer* c = TWAIN_Get(cap);
    if (!c)
        return fallback;
    auto current = cbytes::Current(TWAIN_ContainerBlock(c));
    TWAIN_FreeContainer(c);
    if (!current)
        return fallback;
    return *current != 0 ? 1 : 0;
}

double TWAIN_GetCapFix32(int cap, double fallback)
{
    TW_FIX32 value{};
    return TWAIN_GetCurrentValue(cap, TWTY_FIX32, &value) ? Fix32ToDouble(value) : fallback;
}

int TWAIN_GetCapUint16(int cap, int fallback)
{
    TW_UINT16 value = static_cast<TW_UINT16>(fallback);
    if (!TWAIN_GetCurrentValue(cap, TWTY_UINT16, &value))
        value = static_cast<TW_UINT16>(fallback);
    return value;
}
