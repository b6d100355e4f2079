// The main window: creation and the window procedure.
#include "app/acquire.h"
#include "app/display_scale.h"
#include "app/document.h"
#include "app/shell.h"
#include "app/store_commands.h"
#include "app/store_guard.h"
#include "app/view.h"

#include <windowsx.h>
#include "resources/resource.h"
#include "twain/twain.h"

bool mainWindowEnding = false;
int mainWindowShowCommand = SW_SHOWNORMAL;

namespace {
constexpr int kWindowWidth = 500;
constexpr int kWindowHeight = 350;
// WM_MOUSEHWHEEL: a tilting wheel, reported from Windows Vista on; the headers name it
// only for that version and later.
constexpr UINT kMouseHorizontalWheel = 0x020E;

}  // namespace

int CreateMainWindow(int showCommand)
{
    bool available = TWAIN_IsAvailable();
    waitCursor = LoadCursorA(nullptr, IDC_WAIT);
    char title[64] = "";
    LoadStringA(appInstance, IDS_TITLE, title, sizeof title);
    mainWindowShowCommand = showCommand;
    // The first size is that of a 96-dpi display, grown by the scale of the one it opens on.
    UINT dpi = WindowDpi(nullptr);
    HWND window = CreateWindowExA(0, "TW_App_MainWnd", title, WS_OVERLAPPEDWINDOW, 0, 0,
                                  ScaleForDpi(kWindowWidth, dpi), ScaleForDpi(kWindowHeight, dpi), nullptr, nullptr,
                                  appInstance, nullptr);
    if (!window)
        return 0;
    mainWindow = window;
    UINT state = MF_BYCOMMAND | (available ? MF_ENABLED : MF_GRAYED);
    for (int command : {CMD_ACQUIRE, CMD_ACQUIRE_CLIPBOARD, CMD_SELECT_SOURCE})
        EnableMenuItem(GetMenu(window), command, state);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

namespace {
// The messages of the view: its size, scrolling, painting and palette. True when handled,
// with what the window procedure answers in result.
bool ViewMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message) {
    case WM_SIZE:
        // The fitting modes draw the page at another size in another client area.
        if (viewMode == kViewFitPage || viewMode == kViewFitWidth)
            ForgetScaledCopy();
        UpdateViewScrollBars(window);
        InvalidateRect(window, nullptr, FALSE);
        return true;
    case WM_HSCROLL:
    case WM_VSCROLL:
        ScrollView(window, message == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        return true;
    case WM_KEYDOWN:
        return PageByKey(window, static_cast<UINT>(wParam)) || ZoomByKey(window, static_cast<UINT>(wParam)) ||
               ScrollViewByKey(window, static_cast<UINT>(wParam));
    case WM_MOUSEWHEEL:
        // With Ctrl held the wheel zooms about the pointer, with Shift it moves across the
        // page, as in most viewers.
        if (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL)
            ZoomByWheel(window, GET_WHEEL_DELTA_WPARAM(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        else
            ScrollViewByWheel(window, GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT ? SB_HORZ : SB_VERT,
                              GET_WHEEL_DELTA_WPARAM(wParam));
        return true;
    case kMouseHorizontalWheel:
        ScrollViewByWheel(window, SB_HORZ, -GET_WHEEL_DELTA_WPARAM(wParam));
        return true;
    case WM_PAINT:
        result = PaintView(window);
        return true;
    case WM_ERASEBKGND:
        // The paint covers the whole client area itself (the page, the black around it, or
        // black where there is none): erasing first would draw it twice.
        result = 1;
        return true;
    case WM_PALETTECHANGED:
        result = reinterpret_cast<HWND>(wParam) == window ? 0 : RealizeViewPalette(window);
        return true;
    case WM_QUERYNEWPALETTE:
        result = RealizeViewPalette(window);
        return true;
    }
    return false;
}
}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (ViewMessage(window, message, wParam, lParam, result))
        return result;
    switch (message) {
    case WM_CREATE:
        mainWindowEnding = false;
        LoadCommand(window);
        forceCompaction = 0;
        PostMessageA(window, WM_COMMAND, CMD_COMPACT, 0);
        // What arrived while the load waited for the store comes after the start-up check.
        ReleaseHeldCommands(window);
        break;
    case WM_DESTROY:
        // Shutting the library down dispatches whatever is still queued.
        mainWindowEnding = true;
        ReleaseCurrentImage();
        TWAIN_UnloadSourceManager();
        PostQuitMessage(0);
        break;
    case WM_CLOSE:
        // Held first: a close during Exit/Save's wait for the store still gives the wait up.
        if (DeferCloseWhileHeld(window) || mainWindowEnding)
            return 0;
        break;
    case kDpiChangedMessage:
        FollowDpiChange(window, *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_INITMENU:
        ApplyMenuRules(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_COMMAND:
        if (!mainWindowEnding)
            RunCommand(window, LOWORD(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
