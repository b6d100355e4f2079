// Restricting the source's pixel types to those the application accepts.
#include "twain/capability.h"
#include "twain/twain.h"

namespace {

int ErrorOf(cbytes::PixelOutcome outcome)
{
    switch (outcome) {
    case cbytes::PixelOutcome::badContainer: return TWERR_BAD_CONTAINER;
    case cbytes::PixelOutcome::badContainerType: return TWERR_BAD_CONTAINER_TYPE;
    case cbytes::PixelOutcome::badItemType: return TWERR_BAD_ITEM_TYPE;
    case cbytes::PixelOutcome::empty: return TWERR_EMPTY_CONTAINER;
    case cbytes::PixelOutcome::noCommonValues: return TWERR_NO_COMMON_VALUES;
    default: return TWERR_NONE;
    }
}

}  // namespace

unsigned long TWAIN_NegotiatePixelTypes(unsigned long mask)
{
    // No restriction asks nothing of the source, so it needs none open.
    if (mask == 0)
        return 1;
    if (TWAIN_GetState() != TWAIN_SOURCE_OPEN) {
        TWAIN_RecordError(TWERR_NOT_STATE_4);
        return 0;
    }
    TW_CAPABILITY capability{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
    if (!TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability)) {
        TWAIN_RecordError(TWERR_CAP_GET);
        // A container handed back with the refusal is ours all the same.
        if (capability.hContainer)
            GlobalFree(capability.hContainer);
        return 0;
    }
    HGLOBAL handle = capability.hContainer;
    if (!handle) {
        TWAIN_RecordError(TWERR_NULL_CONTAINER);
        return 0;
    }
    void* address = GlobalLock(handle);
    if (!address) {
        TWAIN_RecordError(TWERR_BAD_CONTAINER);
        GlobalFree(handle);  // ours since the source handed it over
        return 0;
    }
    const cbytes::Block b{capability.ConType, static_cast<std::uint8_t*>(address), GlobalSize(handle)};
    const cbytes::PixelResult restricted = cbytes::RestrictPixelTypes(b, static_cast<std::uint32_t>(mask));
    if (restricted.outcome != cbytes::PixelOutcome::ok)
        TWAIN_RecordError(ErrorOf(restricted.outcome));
    unsigned long result = restricted.value;
    GlobalUnlock(handle);
    if (result != 0 && restricted.sendBack && !TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability)) {
        TWAIN_RecordError(TWERR_CAP_SET);
        result = 0;
    }
    GlobalFree(handle);
    return result;
}
