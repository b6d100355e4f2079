// Scrolling over a page larger than the client area at actual size: a 300 dpi page is
// several screens large, and every part of it must be reachable pixel for pixel.
#include "app/shell.h"
#include "app/view.h"
#include "dib/dib.h"

#include <algorithm>
#include <climits>

int viewScrollX = 0;
int viewScrollY = 0;

namespace {
// Pixels per arrow key or scroll-bar arrow; a wheel notch moves three of them.
constexpr int kLineStep = 40;
constexpr int kWheelLines = 3;

struct KeyScroll {
    UINT key;
    int bar;
    int code;
};
// Home and End go to a corner: both bars move.
constexpr KeyScroll kKeyScrolls[] = {
    {VK_UP, SB_VERT, SB_LINEUP},     {VK_DOWN, SB_VERT, SB_LINEDOWN}, {VK_LEFT, SB_HORZ, SB_LINELEFT},
    {VK_RIGHT, SB_HORZ, SB_LINERIGHT}, {VK_PRIOR, SB_VERT, SB_PAGEUP}, {VK_NEXT, SB_VERT, SB_PAGEDOWN},
    {VK_HOME, SB_HORZ, SB_TOP},      {VK_HOME, SB_VERT, SB_TOP},      {VK_END, SB_HORZ, SB_BOTTOM},
    {VK_END, SB_VERT, SB_BOTTOM},
};

// The extent of the page as drawn that scrolls: none when it is stretched or there is none.
SIZE ScrollableExtent(HWND window)
{
    if (!currentDib || stretchToWindow != 0)
        return SIZE{0, 0};
    const ViewGeometry g = CurrentViewGeometry(window);
    return SIZE{g.width, g.height};
}

int& OffsetOf(int bar)
{
    return bar == SB_HORZ ? viewScrollX : viewScrollY;
}

// A bar whose page holds the whole extent hides itself.
void SetBar(HWND window, int bar, int extent, int page)
{
    int& offset = OffsetOf(bar);
    offset = std::clamp(offset, 0, std::max(0, extent - page));
    SCROLLINFO info = {sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, 0, std::max(extent - 1, 0),
                       UINT(extent > 0 ? std::max(page, 0) : 0), offset, 0};
    SetScrollInfo(window, bar, &info, TRUE);
}

// The offset a scroll request asks for on bar (not yet kept inside the image).
int TargetOf(HWND window, int bar, int code)
{
    SCROLLINFO info = {sizeof info, SIF_PAGE | SIF_TRACKPOS, 0, 0, 0, 0, 0};
    GetScrollInfo(window, bar, &info);
    int offset = OffsetOf(bar), page = int(info.nPage);
    switch (code) {
    case SB_LINEUP: return offset - kLineStep;
    case SB_LINEDOWN: return offset + kLineStep;
    case SB_PAGEUP: return offset - page;
    case SB_PAGEDOWN: return offset + page;
    case SB_TOP: return 0;
    case SB_BOTTOM: return INT_MAX;
    // The 32-bit track position: the message's own is 16 bits, too few for a long page.
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: return info.nTrackPos;
    }
    return offset;
}

int Clamped(HWND window, int bar, int target)
{
    SIZE extent = ScrollableExtent(window);
    SCROLLINFO info = {sizeof info, SIF_PAGE, 0, 0, 0, 0, 0};
    GetScrollInfo(window, bar, &info);
    return std::clamp(target, 0, std::max(0, int(bar == SB_HORZ ? extent.cx : extent.cy) - int(info.nPage)));
}

// Moves the view to the offsets in one step: what stays on the screen is moved there, and
// only the strips uncovered are painted, at once.
void MoveViewTo(HWND window, int x, int y)
{
    x = Clamped(window, SB_HORZ, x);
    y = Clamped(window, SB_VERT, y);
    int dx = x - viewScrollX, dy = y - viewScrollY;
    if (dx == 0 && dy == 0)
        return;
    viewScrollX = x;
    viewScrollY = y;
    if (dx)
        SetScrollPos(window, SB_HORZ, x, TRUE);
    if (dy)
        SetScrollPos(window, SB_VERT, y, TRUE);
    ScrollWindowEx(window, -dx, -dy, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE | SW_ERASE);
    UpdateWindow(window);
}

void MoveView(HWND window, int bar, int target)
{
    MoveViewTo(window, bar == SB_HORZ ? target : viewScrollX, bar == SB_VERT ? target : viewScrollY);
}
}  // namespace

void UpdateViewScrollBars(HWND window)
{
    // Showing one bar narrows the client area, which may call for the other; each change
    // sends WM_SIZE back here, so only the outermost call sets the bars, until they agree.
    static bool updating = false;
    if (updating)
        return;
    updating = true;
    RECT before = {}, after = {};
    for (int pass = 0; pass < 4; ++pass) {
        GetClientRect(window, &before);
        // A fitting mode's page changes its size with the client area.
        SIZE extent = ScrollableExtent(window);
        SetBar(window, SB_HORZ, extent.cx, before.right);
        SetBar(window, SB_VERT, extent.cy, before.bottom);
        GetClientRect(window, &after);
        if (EqualRect(&before, &after))
            break;
    }
    updating = false;
}

void ScrollView(HWND window, int bar, int code)
{
    MoveView(window, bar, TargetOf(window, bar, code));
}

bool ScrollViewByKey(HWND window, UINT key)
{
    // Home and End move both bars: in one step, so the page is drawn once.
    bool known = false;
    int x = viewScrollX, y = viewScrollY;
    for (const KeyScroll& row : kKeyScrolls) {
        if (row.key == key) {
            (row.bar == SB_HORZ ? x : y) = TargetOf(window, row.bar, row.code);
            known = true;
        }
    }
    if (known)
        MoveViewTo(window, x, y);
    return known;
}

void ScrollViewByWheel(HWND window, int bar, int delta)
{
    MoveView(window, bar, OffsetOf(bar) - delta * kWheelLines * kLineStep / WHEEL_DELTA);
}
