// How large the page shown is drawn: the whole page (Fit Page), its width across the
// window (Fit Width), one image pixel per screen pixel (Actual Size), or a zoom a step at
// a time, about the pointer with Ctrl and the wheel. Remembered with the other options.
#include "app/view.h"

#include "app/shell.h"
#include "dib/dib.h"
#include "resources/resource.h"

#include <algorithm>
#include <cmath>
#include <iterator>

int viewMode = kViewFitPage;
int zoomPercent = 100;

namespace {
// The zoom steps, in per cent, that Zoom In and Zoom Out go through.
constexpr int kZoomSteps[] = {25, 33, 50, 67, 75, 100, 125, 150, 200, 300, 400};

SIZE ClientSize(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return SIZE{client.right, client.bottom};
}

double FitScale(HWND window, bool widthOnly)
{
    const SIZE client = ClientSize(window);
    const double across = double(client.cx) / DibWidth(currentDib), down = double(client.cy) / DibHeight(currentDib);
    // A page smaller than the window is not enlarged: it is shown as it is, centred.
    return std::min(1.0, widthOnly ? across : std::min(across, down));
}

// The step nearest below (down) or above the scale shown now.
int NextStep(double scale, bool up)
{
    const double now = scale * 100;
    if (up) {
        for (int step : kZoomSteps)
            if (step > now + 0.5)
                return step;
        return kZoomSteps[std::size(kZoomSteps) - 1];
    }
    for (auto step = std::rbegin(kZoomSteps); step != std::rend(kZoomSteps); ++step)
        if (*step < now - 0.5)
            return *step;
    return kZoomSteps[0];
}

void Redraw(HWND window)
{
    ForgetScaledCopy();
    UpdateViewScrollBars(window);
    InvalidateRect(window, nullptr, TRUE);
}

template <int Mode>
void ChooseMode(HWND window)
{
    viewMode = Mode;
    viewScrollX = viewScrollY = 0;
    Redraw(window);
}

// Zooms to percent, keeping the image point under `at` (client coordinates) where it is.
void ZoomTo(HWND window, int percent, POINT at)
{
    if (!currentDib || stretchToWindow != 0)
        return;
    const ViewGeometry before = CurrentViewGeometry(window);
    const double x = (at.x + viewScrollX - before.left) / before.scale, y = (at.y + viewScrollY - before.top) / before.scale;
    viewMode = kViewZoom;
    zoomPercent = percent;
    const ViewGeometry after = CurrentViewGeometry(window);
    viewScrollX = int(std::lround(x * after.scale)) - at.x + after.left;
    viewScrollY = int(std::lround(y * after.scale)) - at.y + after.top;
    Redraw(window);
}

template <bool In>
void ZoomStep(HWND window)
{
    if (!currentDib || stretchToWindow != 0)
        return;
    const SIZE client = ClientSize(window);
    ZoomTo(window, NextStep(CurrentViewGeometry(window).scale, In), POINT{client.cx / 2, client.cy / 2});
}

bool NoZoom()
{
    return !currentDib || stretchToWindow != 0;
}

template <int Mode>
bool InMode()
{
    return viewMode == Mode;
}

constexpr CommandRow kCommands[] = {
    {CMD_FIT_PAGE, ChooseMode<kViewFitPage>},   {CMD_FIT_WIDTH, ChooseMode<kViewFitWidth>},
    {CMD_ACTUAL_SIZE, ChooseMode<kViewActualSize>}, {CMD_ZOOM_IN, ZoomStep<true>},
    {CMD_ZOOM_OUT, ZoomStep<false>},
};

constexpr MenuRule kMenuRules[] = {
    {CMD_FIT_PAGE, true, InMode<kViewFitPage>},       {CMD_FIT_WIDTH, true, InMode<kViewFitWidth>},
    {CMD_ACTUAL_SIZE, true, InMode<kViewActualSize>}, {CMD_ZOOM_IN, false, NoZoom},
    {CMD_ZOOM_OUT, false, NoZoom},
};
}  // namespace

ViewGeometry CurrentViewGeometry(HWND window)
{
    ViewGeometry g;
    if (!currentDib)
        return g;
    switch (stretchToWindow != 0 ? kViewActualSize : viewMode) {
    case kViewFitPage: g.scale = FitScale(window, false); break;
    case kViewFitWidth: g.scale = FitScale(window, true); break;
    case kViewZoom: g.scale = zoomPercent / 100.0; break;
    default: g.scale = 1.0; break;
    }
    g.width = std::max(1, int(std::lround(DibWidth(currentDib) * g.scale)));
    g.height = std::max(1, int(std::lround(DibHeight(currentDib) * g.scale)));
    // Actual size starts at the window's corner, as it always has; the other modes centre a
    // page narrower or shorter than the window.
    if (viewMode != kViewActualSize && stretchToWindow == 0) {
        const SIZE client = ClientSize(window);
        g.left = std::max(0, int(client.cx - g.width) / 2);
        g.top = std::max(0, int(client.cy - g.height) / 2);
    }
    return g;
}

std::span<const CommandRow> ViewCommands()
{
    return kCommands;
}

std::span<const MenuRule> ViewMenuRules()
{
    return kMenuRules;
}

bool ZoomByKey(HWND window, UINT key)
{
    if (GetKeyState(VK_CONTROL) >= 0)
        return false;
    if (key == VK_ADD || key == VK_OEM_PLUS)
        RunCommand(window, CMD_ZOOM_IN);
    else if (key == VK_SUBTRACT || key == VK_OEM_MINUS)
        RunCommand(window, CMD_ZOOM_OUT);
    else if (key == '0' || key == VK_NUMPAD0)
        RunCommand(window, CMD_FIT_PAGE);
    else
        return false;
    return true;
}

void ZoomByWheel(HWND window, int delta, POINT screen)
{
    if (NoZoom() || delta == 0)
        return;
    ScreenToClient(window, &screen);
    ZoomTo(window, NextStep(CurrentViewGeometry(window).scale, delta > 0), screen);
}
