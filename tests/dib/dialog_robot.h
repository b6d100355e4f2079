#pragma once
// Plays the user on a modal dialog: a second thread waits for a dialog window ("#32770")
// of this process to appear and acts on it, while the test's thread sits in the modal
// loop.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class DialogRobot {
public:
    explicit DialogRobot(std::function<void(HWND)> action, DWORD timeoutMs = 10000)
        : thread_([this, action, timeoutMs] {
              for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
                  if (HWND dialog = FindOwnDialog()) {
                      Sleep(100);  // let the dialog finish initialising
                      found_ = true;
                      action(dialog);
                      return;
                  }
                  Sleep(20);
              }
          })
    {
    }
    ~DialogRobot() { Finish(); }
    DialogRobot(const DialogRobot&) = delete;
    DialogRobot& operator=(const DialogRobot&) = delete;

    // Waits for the robot to finish; answers whether it saw a dialog.
    bool Finish()
    {
        if (thread_.joinable())
            thread_.join();
        return found_;
    }

    static std::string TextOf(HWND window)
    {
        char text[512] = "";
        GetWindowTextA(window, text, sizeof text);
        return text;
    }

private:
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

    std::atomic<bool> found_{false};
    std::thread thread_;
};
