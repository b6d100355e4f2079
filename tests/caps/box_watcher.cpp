#include "caps/box_watcher.h"

#include <atomic>
#include <mutex>

namespace {

struct Watch {
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<ShownBox> boxes;
};

std::string WindowText(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK FindStatic(HWND child, LPARAM found)
{
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && GetWindowTextLengthA(child) > 0) {
        *reinterpret_cast<std::string*>(found) = WindowText(child);
        return FALSE;
    }
    return TRUE;
}

HWND FindOwnBox()
{
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w; w = FindWindowExA(nullptr, w, "#32770", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w))
            return w;
    }
    return nullptr;
}

DWORD WINAPI WatchBoxes(void* param)
{
    auto* watch = static_cast<Watch*>(param);
    while (!watch->stop) {
        HWND box = FindOwnBox();
        if (!box) {
            Sleep(5);
            continue;
        }
        ShownBox shown{WindowText(box), {}};
        EnumChildWindows(box, FindStatic, reinterpret_cast<LPARAM>(&shown.text));
        {
            std::lock_guard<std::mutex> guard(watch->lock);
            watch->boxes.push_back(shown);
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 400 && IsWindow(box); ++i)
            Sleep(5);
    }
    return 0;
}

}  // namespace

std::vector<ShownBox> BoxesShownBy(const std::function<void()>& action)
{
    Watch watch;
    HANDLE thread = CreateThread(nullptr, 0, WatchBoxes, &watch, 0, nullptr);
    action();
    // A box closed just before the action returned has been recorded already; give
    // the watcher one more look for anything still on screen.
    Sleep(20);
    watch.stop = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return watch.boxes;
}

std::vector<std::string> BoxTextsShownBy(const std::function<void()>& action)
{
    std::vector<std::string> texts;
    for (const auto& box : BoxesShownBy(action))
        texts.push_back(box.text);
    return texts;
}
