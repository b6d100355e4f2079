// Program entry and the main message loop.
#include "app/acquire.h"
#include "app/display_scale.h"
#include "app/page.h"
#include "app/shell.h"
#include "resources/resource.h"
#include "twain/twain.h"

#include <cstring>
#include <string>

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
char messageText[kMessageTextSize] = "";

namespace {
constexpr char kClassName[] = "TW_App_MainWnd";

// Shows the path as the host gave it: whole while a box can show it readably, else its
// beginning and end around an ellipsis.
void ReportStorePathTooLong(const char* commandLine)
{
    constexpr size_t kWhole = 300, kHead = 150, kTail = 147;
    const char* blank = std::strchr(commandLine ? commandLine : "", ' ');
    std::string path = blank ? blank + 1 : "";
    if (path.size() > kWhole)
        path = path.substr(0, kHead) + "..." + path.substr(path.size() - kTail);
    std::string text =
        "The record's path is too long for the image store:\n" + path + "\n\nNothing was opened or changed.";
    MessageBoxA(nullptr, text.c_str(), appName, MB_OK | MB_ICONSTOP);
}

int RunMessageLoop()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchAppMessage(message);
    return static_cast<int>(message.wParam);
}
}  // namespace

bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "TW_APP_ICO");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = "TW_App_Menu";
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass) != 0;
}

int RunProgram(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand)
{
    appInstance = instance;
    TakeDisplayScaleFromManifest();
    // The library makes its hidden proxy window with it.
    TWAIN_SetInstance(instance);
    ParseCommandLine(commandLine);
    LoadSettings();
    LoadStringA(instance, IDS_APPNAME, appName, sizeof appName);
    if (previous)
        return 0;
    if (storePathTooLong) {
        ReportStorePathTooLong(commandLine);
        return 0;
    }
    LoadRememberedOptions();
    if (!RegisterMainWindowClass(instance))
        return 0;
    if (!CreateMainWindow(showCommand))
        return 0;
    int exitCode = RunMessageLoop();
    SaveSettings();
    return exitCode;
}
