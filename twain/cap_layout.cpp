// The scan area: DG_IMAGE / DAT_IMAGELAYOUT.
#include "twain/capability.h"
#include "twain/twain.h"

#include <utility>

namespace {

// The layout getters and the reset have no message of their own; without a source they
// fail quietly instead of calling into a source that is not there.
int GetLayout(TW_UINT16 message, double* left, double* top, double* right, double* bottom)
{
    if (TWAIN_GetState() < TWAIN_SOURCE_OPEN)
        return 0;
    TW_IMAGELAYOUT layout{};
    if (!TWAIN_CallSource(DG_IMAGE, DAT_IMAGELAYOUT, message, &layout))
        return 0;
    const std::pair<double*, TW_FIX32> sides[] = {{left, layout.Frame.Left},
                                                  {top, layout.Frame.Top},
                                                  {right, layout.Frame.Right},
                                                  {bottom, layout.Frame.Bottom}};
    for (const auto& [out, value] : sides) {
        if (out)
            *out = Fix32ToDouble(value);
    }
    return 1;
}

}  // namespace

int TWAIN_SetImageLayout(double left, double top, double right, double bottom)
{
    if (TWAIN_GetState() != TWAIN_SOURCE_OPEN) {
        TWAIN_RecordError(TWERR_NOT_STATE_4);
        return 0;
    }
    TW_IMAGELAYOUT layout{};
    layout.Frame = TW_FRAME{DoubleToFix32(left), DoubleToFix32(top), DoubleToFix32(right), DoubleToFix32(bottom)};
    layout.DocumentNumber = TWON_DONTCARE32;
    layout.PageNumber = TWON_DONTCARE32;
    layout.FrameNumber = TWON_DONTCARE32;
    return TWAIN_CallSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout) ? 1 : 0;
}

int TWAIN_GetImageLayout(double* left, double* top, double* right, double* bottom)
{
    return GetLayout(MSG_GET, left, top, right, bottom);
}

int TWAIN_GetDefaultImageLayout(double* left, double* top, double* right, double* bottom)
{
    return GetLayout(MSG_GETDEFAULT, left, top, right, bottom);
}

int TWAIN_ResetImageLayout()
{
    if (TWAIN_GetState() < TWAIN_SOURCE_OPEN)
        return 0;
    TW_IMAGELAYOUT layout{};
    return TWAIN_CallSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, &layout) ? 1 : 0;
}
