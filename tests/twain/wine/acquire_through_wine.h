#pragma once
// The fixture of the acquisitions end to end through Wine's Source Manager and the
// virtual scanner: an acquisition by each mechanism, what it left behind, and the page
// the scanner was asked for.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "dib/dib.h"
#include "dib/dib_file.h"
#include "support/box_watch.h"
#include "tools/vscanner/page.h"
#include "wine_session.h"

using boxes::BoxWatcher;

namespace twtest {

enum class Mech { Native, Memory, File, Clipboard, ToFile, Callback };

inline const char* MechName(Mech m)
{
    constexpr const char* names[] = {"native", "memory", "file", "clipboard", "to file", "callback"};
    return names[static_cast<int>(m)];
}

// What one acquisition left behind.
struct Outcome {
    HGLOBAL dib = nullptr;  // the image, owned by the outcome
    bool fileWritten = false;
    std::vector<std::string> boxes;  // texts of the library's own boxes during the acquisition
    std::string report;              // what the program's report of the recorded error shows
    int error = TWERR_NONE;
    bool userClosed = false;
    int state = 0;
    bool hung = false;

    Outcome() = default;
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    Outcome(Outcome&& o) noexcept { *this = std::move(o); }
    Outcome& operator=(Outcome&& o) noexcept
    {
        std::swap(dib, o.dib);
        fileWritten = o.fileWritten;
        boxes = std::move(o.boxes);
        report = std::move(o.report);
        error = o.error;
        userClosed = o.userClosed;
        state = o.state;
        hung = o.hung;
        return *this;
    }
    ~Outcome()
    {
        if (dib)
            GlobalFree(dib);
    }
    std::string AllBoxes() const
    {
        std::string all;
        for (const std::string& b : boxes)
            all += "[" + b + "]\n";
        return all;
    }
    bool Shown(const std::string& part) const
    {
        for (const std::string& b : boxes) {
            if (b.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
};

// Ends a modal loop that does not come back: a hang is a failure, not a stuck test run.
class Watchdog {
public:
    explicit Watchdog(DWORD ms) : thread_(GetCurrentThreadId()), done_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        waiter_ = std::thread([this, ms] {
            if (WaitForSingleObject(done_, ms) == WAIT_TIMEOUT) {
                fired = true;
                PostThreadMessageA(thread_, WM_QUIT, 0, 0);
            }
        });
    }
    ~Watchdog()
    {
        SetEvent(done_);
        waiter_.join();
        CloseHandle(done_);
    }
    std::atomic<bool> fired{false};

private:
    DWORD thread_;
    HANDLE done_;
    std::thread waiter_;
};

inline HGLOBAL callbackDib = nullptr;
inline int callbackState = 0;

// An application's own memory-transfer handler: the library's, with the DIB taken away.
inline int TakeMemoryTransfer(int argument)
{
    callbackState = TWAIN_GetState();
    const int done = TWAIN_MemoryTransfer(argument);
    callbackDib = hDib;
    hDib = nullptr;
    return done ? argument : -1;
}

class AcquireThroughWine : public WineSession {
protected:
    void SetUp() override
    {
        WineSession::SetUp();
        outputPath = profilePath + ".image";
        DeleteFileA(outputPath.c_str());
        TWAIN_SetHideUI(true);
        TWAIN_SetMultiTransfer(false);
        incompatibilityReported = false;
    }
    void TearDown() override
    {
        TWAIN_SetMultiTransfer(false);
        DeleteFileA(outputPath.c_str());
        WineSession::TearDown();
    }

    // The scanner's page for the given keys (a small page unless they say otherwise).
    static std::string Keys(const std::string& keys) { return "[source]\nname = Alpha\nwidth = 37\nheight = 23\n" + keys; }

    // report: show the program's report of the recorded error when no image came.
    Outcome Acquire(Mech mech, TW_UINT16 fileFormat = TWFF_BMP, const std::string& file = {}, bool report = true)
    {
        const std::string path = file.empty() ? outputPath : file;
        Outcome out;
        {
            BoxWatcher watcher(IDOK, "TWAIN Error");
            Watchdog watchdog(20000);
            switch (mech) {
            case Mech::Native:
                out.dib = TWAIN_AcquireNative(nullptr, 0);
                break;
            case Mech::Memory:
                out.dib = TWAIN_AcquireMemory(nullptr);
                break;
            case Mech::File:
                out.fileWritten = TWAIN_AcquireFileTransfer(nullptr, fileFormat, path.c_str());
                if (out.fileWritten && fileFormat == TWFF_BMP)
                    out.dib = DibReadFile(path.c_str());
                break;
            case Mech::Clipboard:
                if (TWAIN_AcquireToClipboard(nullptr, 0))
                    out.dib = FromClipboard();
                break;
            case Mech::ToFile:
                if (TWAIN_AcquireToFile(nullptr, path.c_str()) == 0)
                    out.dib = DibReadFile(path.c_str());
                break;
            case Mech::Callback:
                callbackDib = nullptr;
                callbackState = 0;
                if (AcquireCB(nullptr, TakeMemoryTransfer, 7) == 7) {
                    EXPECT_EQ(callbackState, TWAIN_TRANSFER_READY);
                    out.dib = callbackDib;
                } else if (callbackDib) {
                    GlobalFree(callbackDib);
                }
                break;
            }
            out.hung = watchdog.fired;
            for (const auto& box : watcher.Seen())
                out.boxes.push_back(box.text);
        }
        out.error = TWAIN_GetLastErrorCode();
        out.userClosed = TWAIN_UserClosedSource();
        out.state = TWAIN_GetState();
        if (report && !out.dib && !out.fileWritten) {
            const auto shown = boxes::BoxTextsShownBy([] { TWAIN_ReportLastError(nullptr); });
            if (!shown.empty())
                out.report = shown.front();
        }
        EXPECT_FALSE(out.hung) << "the acquisition did not come back";
        return out;
    }

    static HGLOBAL FromClipboard()
    {
        HGLOBAL copy = nullptr;
        if (!OpenClipboard(nullptr))
            return nullptr;
        if (HANDLE data = GetClipboardData(CF_DIB)) {
            const SIZE_T size = GlobalSize(data);
            copy = GlobalAlloc(GMEM_MOVEABLE, size);
            void* from = GlobalLock(data);
            void* to = GlobalLock(copy);
            std::memcpy(to, from, size);
            GlobalUnlock(copy);
            GlobalUnlock(data);
        }
        CloseClipboard();
        return copy;
    }

    static std::string ClipboardText()
    {
        std::string text;
        if (!OpenClipboard(nullptr))
            return text;
        if (HANDLE data = GetClipboardData(CF_TEXT)) {
            text = static_cast<const char*>(GlobalLock(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
        return text;
    }

    static std::vector<std::uint8_t> ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // Every pixel of the DIB against the page the scanner drew.
    static void ExpectPage(HGLOBAL dib, const vs::PageFormat& f, int page, int bits)
    {
        ASSERT_NE(dib, nullptr) << "no image";
        ASSERT_TRUE(DibHandleIsSafe(dib));
        EXPECT_EQ(DibWidth(dib), f.width);
        ASSERT_EQ(DibHeight(dib), f.height);
        EXPECT_EQ(DibBitCount(dib), bits);
        std::vector<std::uint8_t> row(3 * f.width);
        int wrong = 0;
        for (int y = 0; y < f.height; ++y) {
            DibReadRowRGB(dib, y, row.data());
            for (int x = 0; x < f.width; ++x) {
                const vs::Rgb want = vs::PagePixelColor(f, x, y, page);
                const vs::Rgb seen{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
                if (!(seen == want) && wrong++ < 3) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(seen.red) << "/" << int(seen.green)
                                  << "/" << int(seen.blue) << ", the page has " << int(want.red) << "/"
                                  << int(want.green) << "/" << int(want.blue);
                }
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    // Lines of the session log that start with the text.
    int Count(const std::string& start) const
    {
        int n = 0;
        for (const std::string& line : SessionLog())
            n += line.rfind(start, 0) == 0;
        return n;
    }

    // After whatever went before, a sound scanner gives a sound image at once.
    void ExpectNextAcquisitionWorks()
    {
        SCOPED_TRACE("the next acquisition");
        UseProfile(Keys("pixel_type = rgb\n"));
        EXPECT_LT(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
        Outcome next = Acquire(Mech::Native);
        ExpectPage(next.dib, vs::PageFormat{37, 23, 24, TWPT_RGB, 100.0}, 0, 24);
        EXPECT_TRUE(next.boxes.empty());
        EXPECT_EQ(next.error, TWERR_NONE);
    }

    std::string outputPath;
};

struct PageCase {
    const char* keys;
    Mech mech;
    vs::PageFormat page;  // what the scanner draws
    int bits;             // depth of the DIB that comes out
};

inline vs::PageFormat Page(TW_UINT16 type, int bits, int colors = 0, bool blank = false)
{
    vs::PageFormat page{37, 23, bits, type, 100.0, colors};
    page.blank.set(0, blank);
    return page;
}

}  // namespace twtest
