// The main window: creation and the window procedure.
#include "app/shell.h"
#include "resources/resource.h"

namespace {
constexpr int kWindowWidth = 500;
constexpr int kWindowHeight = 350;

void PaintBlack(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    HGDIOBJ previous = SelectObject(dc, black);
    Rectangle(dc, 0, 0, client.right, client.bottom);
    SelectObject(dc, previous);
    DeleteObject(black);
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    if (HDC dc = BeginPaint(window, &paint))
        PaintBlack(window, dc);
    EndPaint(window, &paint);
    return 0;
}
}  // namespace

int CreateMainWindow(int showCommand)
{
    char title[64] = "";
    LoadStringA(appInstance, IDS_TITLE, title, sizeof title);
    HWND window = CreateWindowExA(0, "TW_App_MainWnd", title, WS_OVERLAPPEDWINDOW, 0, 0, kWindowWidth,
                                  kWindowHeight, nullptr, nullptr, appInstance, nullptr);
    if (!window)
        return 0;
    mainWindow = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        forceCompaction = 0;
        PostMessageA(window, WM_COMMAND, CMD_COMPACT, 0);
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    case WM_SIZE:
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_PAINT:
        return OnPaint(window);
    case WM_INITMENU:
        ApplyMenuRules(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_COMMAND:
        RunCommand(window, LOWORD(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
