#pragma once
// Plays the user on a modal dialog: a second thread waits for a dialog window ("#32770")
// of this process to appear and acts on it, while the test's thread sits in the modal
// loop. A dialog that outlives a few attempts is cancelled, so that a test fails
// instead of hanging.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class DialogRobot {
public:
    explicit DialogRobot(std::function<void(HWND)> action, DWORD timeoutMs = 10000)
        : thread_([this, action, timeoutMs] { Run(action, timeoutMs); })
    {
    }
    ~DialogRobot() { Finish(); }
    DialogRobot(const DialogRobot&) = delete;
    DialogRobot& operator=(const DialogRobot&) = delete;

    // Waits for the robot; answers whether a dialog came and the action closed it.
    bool Finish()
    {
        if (thread_.joinable())
            thread_.join();
        return done_;
    }

    static std::string TextOf(HWND window)
    {
        char text[512] = "";
        GetWindowTextA(window, text, sizeof text);
        return text;
    }

private:
    void Run(const std::function<void(HWND)>& action, DWORD timeoutMs)
    {
        HWND dialog = nullptr;
        for (DWORD waited = 0; !dialog && waited < timeoutMs; waited += 5) {
            Sleep(5);
            dialog = FindOwnDialog();
        }
        if (!dialog)
            return;
        OutOfTheWay(dialog);
        for (int attempt = 0; attempt < 5; ++attempt) {
            // Its thread takes messages once WM_INITDIALOG is done: the dialog is ready.
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored);
            action(dialog);
            for (int i = 0; i < 100 && IsWindow(dialog); ++i)
                Sleep(20);
            if (!IsWindow(dialog)) {
                done_ = true;
                return;
            }
        }
        while (HWND stuck = FindOwnDialog()) {
            PostMessageA(stuck, WM_COMMAND, IDCANCEL, 0);
            for (int i = 0; i < 100 && IsWindow(stuck); ++i)
                Sleep(20);
        }
    }

    // Other test programs may be reading pixels of their windows near the top left.
    static void OutOfTheWay(HWND dialog)
    {
        RECT r;
        GetWindowRect(dialog, &r);
        SetWindowPos(dialog, nullptr, GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left),
                     GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    static BOOL CALLBACK Match(HWND window, LPARAM result)
    {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char cls[32] = "";
        GetClassNameA(window, cls, sizeof cls);
        if (process == GetCurrentProcessId() && std::string(cls) == "#32770" &&
            IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        }
        return TRUE;
    }
    static HWND FindOwnDialog()
    {
        HWND found = nullptr;
        EnumWindows(Match, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    std::atomic<bool> done_{false};
    std::thread thread_;
};
