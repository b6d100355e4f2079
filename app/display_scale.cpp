// Display scale: the functions that tell a window's dpi came with Windows 10 and
// are looked up at run time; older systems have one scale for the whole screen.
#include "app/display_scale.h"

namespace {
constexpr DWORD kFrameStyle = WS_OVERLAPPEDWINDOW;

template <typename Function>
Function User32Function(const char* name)
{
    FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

void AdjustForDpi(RECT& rect, UINT dpi)
{
    using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = User32Function<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, kFrameStyle, TRUE, 0, dpi))
        AdjustWindowRect(&rect, kFrameStyle, TRUE);
}
}  // namespace

void TakeDisplayScaleFromManifest()
{
    // Windows 10 sets the awareness the manifest names before the program runs, and then
    // refuses these calls; a system that knows per-monitor v2 only by name (Wine 8 stops
    // there instead of taking the next form the manifest offers) left the program
    // unaware, and would stretch the page.
    using SetContextFunction = BOOL(WINAPI*)(HANDLE);
    static const auto set = User32Function<SetContextFunction>("SetProcessDpiAwarenessContext");
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(-4), perMonitor = reinterpret_cast<HANDLE>(-3);
    if (set && !set(perMonitorV2))
        set(perMonitor);
}

UINT WindowDpi(HWND window)
{
    using WindowDpiFunction = UINT(WINAPI*)(HWND);
    using SystemDpiFunction = UINT(WINAPI*)();
    static const auto forWindow = User32Function<WindowDpiFunction>("GetDpiForWindow");
    static const auto forSystem = User32Function<SystemDpiFunction>("GetDpiForSystem");
    UINT dpi = window && forWindow ? forWindow(window) : !window && forSystem ? forSystem() : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        ReleaseDC(nullptr, screen);
    }
    return dpi ? dpi : kUnscaledDpi;
}

int ScaleForDpi(int pixelsAt96, UINT dpi)
{
    return MulDiv(pixelsAt96, static_cast<int>(dpi), kUnscaledDpi);
}

void SizeClientArea(HWND window, int width, int height)
{
    RECT rect = {0, 0, width, height};
    AdjustForDpi(rect, WindowDpi(window));
    SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER);
    // A menu bar wider than the window wraps onto more lines than the frame allows for (a
    // narrow page on a scaled display): the window grows by what the client area lacks.
    // Scroll bars shown meanwhile are left out: they go once the page fits.
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    int missing = height - client.bottom - (style & WS_HSCROLL ? GetSystemMetrics(SM_CYHSCROLL) : 0);
    if (missing > 0)
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + missing,
                     SWP_NOMOVE | SWP_NOZORDER);
}

void FollowDpiChange(HWND window, const RECT& suggested)
{
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}
