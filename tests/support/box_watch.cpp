#include "support/box_watch.h"

#include "support/store_hold.h"

namespace boxes {
namespace {
struct Search {
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK FindProc(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char cls[32] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (process == GetCurrentProcessId() && lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(window) &&
        (search->caption->empty() || WindowText(window) == *search->caption)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

std::string WindowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND FindDialog(const std::string& caption)
{
    Search search{&caption, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BoxWatcher::BoxWatcher(int button, std::string caption)
    : button_(button), caption_(std::move(caption)), thread_([this] { Run(); })
{
}

BoxWatcher::BoxWatcher(std::vector<int> answers)
    : button_(IDOK), answers_(std::move(answers)), thread_([this] { Run(); })
{
}

BoxWatcher::~BoxWatcher()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    thread_.join();
}

namespace {
std::mutex probeMutex;
std::string probedIndex;
std::vector<std::string> shownWhileLocked;

// Whether another program could take the store now, through a handle of its own.
void ProbeStore(const SeenBox& seen)
{
    std::lock_guard lock(probeMutex);
    if (!probedIndex.empty() && !StoreHold(probedIndex).Take(kStoreLockOffset, true, true) &&
        GetLastError() == ERROR_LOCK_VIOLATION)
        shownWhileLocked.push_back(seen.caption + ": " + seen.text);
}
}  // namespace

void WatchStoreLock(const std::string& indexPath)
{
    std::lock_guard lock(probeMutex);
    probedIndex = indexPath;
    shownWhileLocked.clear();
}

std::vector<std::string> BoxesShownWhileStoreLocked()
{
    std::lock_guard lock(probeMutex);
    return shownWhileLocked;
}

void BoxWatcher::Run()
{
    HWND answered = nullptr;
    std::size_t next = 0;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
        }
        HWND box = FindDialog(caption_);
        if (box && box != answered) {
            SeenBox seen{WindowText(box), ""};
            if (HWND text = GetDlgItem(box, 0xFFFF))
                seen.text = WindowText(text);
            ProbeStore(seen);
            {
                std::lock_guard lock(mutex_);
                seen_.push_back(seen);
            }
            int button = next < answers_.size() ? answers_[next] : button_;
            ++next;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            answered = box;
        } else if (!box) {
            answered = nullptr;
        }
        Sleep(10);
    }
}

std::vector<SeenBox> BoxWatcher::Seen()
{
    std::lock_guard lock(mutex_);
    return seen_;
}

std::vector<SeenBox> BoxesShownBy(const std::function<void()>& action)
{
    BoxWatcher watcher;
    // Every box the action showed was modal: it was recorded before it was answered, and
    // answered before the action could return.
    action();
    return watcher.Seen();
}

std::vector<std::string> BoxTextsShownBy(const std::function<void()>& action)
{
    std::vector<std::string> texts;
    for (const SeenBox& box : BoxesShownBy(action))
        texts.push_back(box.text);
    return texts;
}

bool BoxWatcher::WaitFor(std::size_t count, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (Seen().size() >= count)
            return true;
        Sleep(10);
    }
    return false;
}

}  // namespace boxes
