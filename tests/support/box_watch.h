#pragma once
// Watches for the message boxes and dialogs that this test process shows ("#32770"),
// remembers caption and text, and answers them with a button, from a helper thread,
// while the test's own thread sits in the modal loop.

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace boxes {

struct SeenBox {
    std::string caption;
    std::string text;  // the message box's static text (control 0xFFFF)
};

class BoxWatcher {
public:
    // Presses button (IDOK, IDCANCEL...) on every dialog it finds, optionally only on
    // dialogs with the given caption.
    explicit BoxWatcher(int button = IDOK, std::string caption = {});
    // Answers the boxes one after the other with the buttons of answers (IDYES, IDNO...),
    // and every later one with OK.
    explicit BoxWatcher(std::vector<int> answers);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    std::vector<SeenBox> Seen();
    // Waits until at least count dialogs were answered; false on timeout.
    bool WaitFor(std::size_t count, DWORD timeoutMs = 10000);

private:
    void Run();
    int button_;
    std::string caption_;
    std::vector<int> answers_;
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    bool stop_ = false;
    std::thread thread_;
};

// Runs action while a watcher presses OK on every box; answers the boxes in order.
std::vector<SeenBox> BoxesShownBy(const std::function<void()>& action);
// The texts only, in order.
std::vector<std::string> BoxTextsShownBy(const std::function<void()>& action);

// Boxes found while the store of indexPath ("": none) is locked keep other programs waiting:
// they are listed (caption: text).
void WatchStoreLock(const std::string& indexPath);
std::vector<std::string> BoxesShownWhileStoreLocked();

// The visible "#32770" window of this process with the given caption (any when empty).
HWND FindDialog(const std::string& caption = {});
std::string WindowText(HWND window);

}  // namespace boxes
