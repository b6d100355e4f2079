// Acquisitions end to end through Wine's Source Manager and the virtual scanner: every
// transfer mechanism, pixel type and row layout compared pixel by pixel with the page the
// scanner was asked for; several pages, multi-transfer, cancels and close requests; and
// every way the scanner can lie or misbehave: no crash, no hang, no image where it lied,
// the right message, and a session from which the next acquisition works.
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
namespace {

enum class Mech { Native, Memory, File, Clipboard, ToFile, Callback };

const char* MechName(Mech m)
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

HGLOBAL callbackDib = nullptr;
int callbackState = 0;

// An application's own memory-transfer handler: the library's, with the DIB taken away.
int TakeMemoryTransfer(int argument)
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

vs::PageFormat Page(TW_UINT16 type, int bits, int colors = 0, bool blank = false)
{
    vs::PageFormat page{37, 23, bits, type, 100.0, colors};
    page.blank.set(0, blank);
    return page;
}

TEST_F(AcquireThroughWine, EveryMechanismBringsThePagePixelForPixel)
{
    const PageCase cases[] = {
        {"pixel_type = bw\n", Mech::Native, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\nbits = 4\n", Mech::Native, Page(TWPT_GRAY, 4), 4},
        {"pixel_type = gray\n", Mech::Native, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\n", Mech::Native, Page(TWPT_RGB, 24), 24},
        {"pixel_types = palette rgb\npixel_type = palette\n", Mech::Native, Page(TWPT_PALETTE, 8), 8},
        {"pixel_type = rgb\nnative_handle = dibsection\n", Mech::Native, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\ndib.biSizeImage = 0\n", Mech::Native, Page(TWPT_RGB, 24), 24},

        {"pixel_type = bw\n", Mech::Memory, Page(TWPT_BW, 1), 1},
        {"pixel_type = bw\nrow_padding = byte\nbuffer_size = 50\n", Mech::Memory, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\nbits = 4\nrow_padding = byte\n", Mech::Memory, Page(TWPT_GRAY, 4), 4},
        {"pixel_type = gray\nrows_per_strip = 3\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = gray\nrow_padding = byte\nbuffer_size = 100\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nrow_padding = byte\nbuffer_size = 1000\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nplanar = yes\nbuffer_size = 200\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nplanar = yes\nrow_padding = byte\nrows_per_strip = 5\n", Mech::Memory, Page(TWPT_RGB, 24),
         24},
        {"pixel_types = palette rgb\npixel_type = palette\n", Mech::Memory, Page(TWPT_PALETTE, 8), 8},
        {"pixel_types = palette rgb\npixel_type = palette\npalette_order = reversed\n", Mech::Memory,
         Page(TWPT_PALETTE, 8), 8},
        {"pixel_types = palette rgb\npixel_type = palette\npalette_order = shuffled\npalette_colors = 16\n",
         Mech::Memory, Page(TWPT_PALETTE, 8, 16), 8},
        {"pixel_types = palette rgb\npixel_type = palette\npalette_colors = 300\n", Mech::Memory,
         Page(TWPT_PALETTE, 8, 300), 8},
        // Strips that reach past the image are cut to it.
        {"pixel_type = gray\nstrip_fault = past_bottom\nbuffer_size = 400\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = gray\nstrip_fault = past_right\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},

        {"pixel_type = rgb\nbits = 32\n", Mech::Memory, Page(TWPT_RGB, 32), 24},
        {"pixel_type = gray\nbits = 4\nrows_per_strip = 7\n", Mech::Memory, Page(TWPT_GRAY, 4), 4},

        {"pixel_type = bw\n", Mech::File, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\n", Mech::File, Page(TWPT_GRAY, 8), 8},
        {"pixel_types = palette rgb\npixel_type = palette\n", Mech::File, Page(TWPT_PALETTE, 8), 8},
        {"pixel_type = rgb\n", Mech::File, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nrows_per_strip = 4\n", Mech::Clipboard, Page(TWPT_RGB, 24), 24},
        {"pixel_type = gray\nplanar = yes\n", Mech::ToFile, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\nplanar = yes\n", Mech::Callback, Page(TWPT_RGB, 24), 24},
        // A source that refuses the empty identity Wine's manager passes on for the default.
        {"pixel_type = rgb\nopen_needs_identity = yes\n", Mech::Native, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nopen_needs_identity = yes\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        // A blank sheet, in each way a page travels.
        {"pixel_type = rgb\nblank_pages = 1\n", Mech::Native, Page(TWPT_RGB, 24, 0, true), 24},
        {"pixel_type = bw\nblank_pages = 1\n", Mech::Memory, Page(TWPT_BW, 1, 0, true), 1},
        {"pixel_types = palette rgb\npixel_type = palette\nblank_pages = 1\n", Mech::Memory,
         Page(TWPT_PALETTE, 8, 0, true), 8},
        {"pixel_type = gray\nblank_pages = 1\n", Mech::File, Page(TWPT_GRAY, 8, 0, true), 8},
    };
    for (const PageCase& c : cases) {
        SCOPED_TRACE(std::string(MechName(c.mech)) + ": " + c.keys);
        UseProfile(Keys(c.keys));
        DeleteFileA(logPath.c_str());
        Outcome out = Acquire(c.mech);
        ExpectPage(out.dib, c.page, 0, c.bits);
        EXPECT_TRUE(out.boxes.empty()) << out.AllBoxes();
        EXPECT_EQ(out.error, TWERR_NONE);
        EXPECT_EQ(out.state, TWAIN_PRESESSION);  // the manager is unloaded after every image
        EXPECT_EQ(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_SUCCESS"), 1);
        if (c.mech != Mech::Native && c.mech != Mech::File) {
            EXPECT_EQ(Count("DG_CONTROL/DAT_SETUPMEMXFER/MSG_GET -> TWRC_SUCCESS"), 1);
        }
    }
}

TEST_F(AcquireThroughWine, FileTransferWritesTheFormatAskedFor)
{
    const vs::PageFormat page{37, 23, 24, TWPT_RGB, 100.0};
    const std::string jfif = "TWFF_JFIF: page 1 of the virtual scanner, which writes no such file.\r\n";
    struct Case {
        TW_UINT16 format;
        std::vector<std::uint8_t> content;
    };
    const Case cases[] = {
        {TWFF_BMP, vs::PageBitmapFile(page, 0)},
        {TWFF_TIFF, vs::PageTiff(page, 0)},
        {TWFF_JFIF, std::vector<std::uint8_t>(jfif.begin(), jfif.end())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        UseProfile(Keys("pixel_type = rgb\n"));
        DeleteFileA(outputPath.c_str());
        Outcome out = Acquire(Mech::File, c.format);
        EXPECT_TRUE(out.fileWritten);
        EXPECT_EQ(ReadAll(outputPath), c.content);
        EXPECT_TRUE(out.boxes.empty());
    }
}

// The name a file transfer hands over holds 255 characters; a longer path cut there
// would name another file, which the source would write or overwrite.
TEST_F(AcquireThroughWine, FilePathsLongerThanTheSourceTakesAreRefused)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string directory = std::string(temp) + "pgx_long_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory.c_str(), nullptr);
    std::string path = directory + "\\";
    path += std::string(255 - path.size(), 'a');  // cut to 255 this would be a name of its own
    const std::string cut = path.substr(0, 255);
    path += ".bmp";
    ASSERT_GT(path.size(), 255u);
    ASSERT_LT(path.size(), 260u);
    UseProfile(Keys(""));
    Outcome out = Acquire(Mech::File, TWFF_BMP, path);
    EXPECT_FALSE(out.fileWritten);
    EXPECT_EQ(out.boxes.size(), 1u);
    EXPECT_TRUE(out.Shown("The file name is longer than the 255 characters")) << out.AllBoxes();
    EXPECT_EQ(Count("DG_CONTROL/DAT_SETUPFILEXFER/MSG_SET"), 0);
    EXPECT_EQ(Count("DG_IMAGE/DAT_IMAGEFILEXFER"), 0);
    EXPECT_EQ(GetFileAttributesA(cut.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(cut.c_str());
    RemoveDirectoryA(directory.c_str());
    ExpectNextAcquisitionWorks();
}

TEST_F(AcquireThroughWine, SeveralPagesWithAndWithoutMultiTransfer)
{
    vs::PageFormat page{37, 23, 8, TWPT_GRAY, 100.0};
    page.blank.set(1);  // the second page is a blank sheet
    for (Mech mech : {Mech::Native, Mech::Memory}) {
        SCOPED_TRACE(MechName(mech));
        UseProfile(Keys("pixel_type = gray\npages = 3\nblank_pages = 2\n"));
        // Without multi-transfer one image comes and the rest are discarded.
        TWAIN_SetMultiTransfer(false);
        DeleteFileA(logPath.c_str());
        {
            Outcome first = Acquire(mech);
            ExpectPage(first.dib, page, 0, 8);
            EXPECT_EQ(first.state, TWAIN_PRESESSION);
            EXPECT_EQ(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_RESET -> TWRC_SUCCESS"), 1);
        }
        // With it, the source stays ready and every acquisition takes the next page
        // without enabling again.
        TWAIN_SetMultiTransfer(true);
        DeleteFileA(logPath.c_str());
        for (int n = 0; n < 3; ++n) {
            SCOPED_TRACE(n);
            Outcome out = Acquire(mech);
            ExpectPage(out.dib, page, n, 8);
            EXPECT_EQ(out.state, n < 2 ? TWAIN_TRANSFER_READY : TWAIN_SOURCE_ENABLED);
        }
        EXPECT_EQ(Count("DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS"), 1);
        EXPECT_EQ(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_SUCCESS"), 3);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

// A scanner that announces its next page on its own while the program waits in its
// own loop: the hook transfers it there, and the next acquisition finds it waiting.
TEST_F(AcquireThroughWine, AnAnnouncementBetweenAcquisitionsIsTransferredInTheHook)
{
    const vs::PageFormat page{37, 23, 24, TWPT_RGB, 100.0};
    for (Mech mech : {Mech::Native, Mech::Memory}) {
        SCOPED_TRACE(MechName(mech));
        UseProfile(Keys("scans = 2\nscan_delay = 600\n"));  // long enough not to come while the first acquisition ends
        TWAIN_SetMultiTransfer(true);
        DeleteFileA(logPath.c_str());
        Outcome first = Acquire(mech);
        ExpectPage(first.dib, page, 0, 24);
        EXPECT_EQ(first.state, TWAIN_SOURCE_ENABLED);
        EXPECT_FALSE(TWAIN_IsImageReady());
        ASSERT_TRUE(Pump([] { return TWAIN_IsImageReady(); }));
        // The hook took the image before anybody asked for it: the second acquisition
        // transfers nothing more.
        const std::string transfer =
            mech == Mech::Native ? "DG_IMAGE/DAT_IMAGENATIVEXFER" : "DG_CONTROL/DAT_SETUPMEMXFER";
        EXPECT_EQ(Count(transfer), 2);
        Outcome second = Acquire(mech);
        ExpectPage(second.dib, page, 1, 24);
        EXPECT_EQ(Count(transfer), 2);
        EXPECT_EQ(Count("DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS"), 1);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

TEST_F(AcquireThroughWine, CancelsAndCloseRequestsEndWithoutAnImage)
{
    struct Case {
        const char* keys;
        Mech mech;
        bool showUI;
        int button;         // pressed in the scanner's dialog
        bool image;
        int error;
        int userClosed;     // 1, 0, or -1 when it may go either way
    };
    const Case cases[] = {
        {"xfer_answer = cancel\n", Mech::Native, false, 0, false, TWERR_CANCELLED, 0},
        {"xfer_answer = cancel\n", Mech::File, false, 0, false, TWERR_CANCELLED, 0},
        {"cancel_at_strip = 1\n", Mech::Memory, false, 0, false, TWERR_CANCELLED, 0},
        {"cancel_at_strip = 3\nrows_per_strip = 2\n", Mech::Memory, false, 0, false, TWERR_CANCELLED, 0},
        {"close_request = instead\n", Mech::Native, false, 0, false, TWERR_NONE, 1},
        {"close_request = before\n", Mech::Memory, false, 0, false, TWERR_NONE, 1},
        {"", Mech::Native, true, IDCANCEL, false, TWERR_NONE, 1},
        // Asked to close right after announcing: the image announced first still comes.
        {"close_request = after\n", Mech::Native, false, 0, true, TWERR_NONE, -1},
        {"close_request = after\n", Mech::Memory, false, 0, true, TWERR_NONE, -1},
        {"", Mech::Memory, true, IDOK, true, TWERR_NONE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(MechName(c.mech)) + ": " + c.keys + (c.showUI ? " with its dialog" : ""));
        UseProfile(Keys(c.keys));
        DeleteFileA(logPath.c_str());
        TWAIN_SetHideUI(!c.showUI);
        Outcome out;
        {
            std::unique_ptr<BoxWatcher> dialog;
            if (c.showUI)
                dialog = std::make_unique<BoxWatcher>(c.button, "Virtual Scanner");
            out = Acquire(c.mech);
        }
        TWAIN_SetHideUI(true);
        EXPECT_EQ(out.dib != nullptr || out.fileWritten, c.image);
        if (c.image) {
            ExpectPage(out.dib, vs::PageFormat{37, 23, 24, TWPT_RGB, 100.0}, 0, 24);
        }
        EXPECT_EQ(out.error, c.error);
        if (c.userClosed >= 0) {
            EXPECT_EQ(out.userClosed, c.userClosed == 1);
        }
        EXPECT_TRUE(out.boxes.empty());
        if (c.error == TWERR_CANCELLED) {
            EXPECT_EQ(out.report, "Operation cancelled by user");
        }
        // A transfer the source started is ended once, a cancelled one too.
        EXPECT_LE(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER"), 1);
        EXPECT_EQ(Count("DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS -> TWRC_SUCCESS"), 1);
        EXPECT_EQ(out.state, TWAIN_PRESESSION);
        ExpectNextAcquisitionWorks();
    }
}

struct FaultCase {
    const char* keys;
    Mech mech;
    const char* box;     // part of the one library box the acquisition shows ("": none)
    int error;           // recorded error code (TWERR_NONE: not checked)
};

// A source's lies, faults and refusals: whatever it does, the acquisition comes back
// without an image, says what went wrong, and the next one works.
TEST_F(AcquireThroughWine, LiesAndFaultsGiveNoImageAndTheRightMessage)
{
    const FaultCase cases[] = {
        // Native DIBs that do not hold what their header says.
        {"dib.biClrUsed = 4000\n", Mech::Native, "", TWERR_TRANSFER},
        {"dib.biHeight = 100000\n", Mech::Native, "", TWERR_TRANSFER},
        {"dib.biWidth = -37\n", Mech::Native, "", TWERR_TRANSFER},
        {"dib.biBitCount = 7\n", Mech::Native, "", TWERR_TRANSFER},
        {"dib.biSize = 100000\n", Mech::Native, "", TWERR_TRANSFER},
        {"native_block_size = 500\n", Mech::Native, "", TWERR_TRANSFER},
        {"native_handle = pen\n", Mech::Native, "", TWERR_TRANSFER},
        {"native_handle = null\n", Mech::Native, "", TWERR_TRANSFER},
        {"xfer_answer = failure\nxfer_failure = paperjam\n", Mech::Native, "", TWERR_TRANSFER},
        {"xfer_answer = failure\n", Mech::File, "", TWERR_TRANSFER},
        {"dib.biCompression = 1\n", Mech::Native, "", TWERR_TRANSFER},
        // Strips that do not fit the image or the buffer handed over.
        {"strip_fault = beyond_right\nstrip_fault_at = 2\nbuffer_size = 200\n", Mech::Memory,
         "mx.XOffset + mx.Columns > info.ImageWidth", TWERR_TRANSFER},
        {"strip_fault = beyond_bottom\nstrip_fault_at = 2\nbuffer_size = 200\n", Mech::Memory,
         "mx.YOffset > info.ImageLength!", TWERR_TRANSFER},
        {"strip_fault = rows_overflow\nbuffer_size = 200\n", Mech::Memory,
         "(mx.BytesPerRow * mx.Rows > mx.Memory.Length)", TWERR_TRANSFER},
        {"strip_fault = bytes_per_row_overflow\nbuffer_size = 400\n", Mech::Memory,
         "(mx.BytesPerRow * mx.Rows > mx.Memory.Length)", TWERR_TRANSFER},
        {"strip_fault = short_written\nstrip_fault_at = 2\nbuffer_size = 400\n", Mech::Memory,
         "(mx.BytesPerRow * mx.Rows > mx.BytesWritten)", TWERR_TRANSFER},
        {"strip_fault = bytes_per_row_overflow\nbuffer_size = 400\n", Mech::Callback,
         "Memory Transfer Incompatibility", TWERR_TRANSFER},
        // Strips that never bring a pixel: the transfer gives up.
        {"strip_fault = no_pixels\n", Mech::Memory, "", TWERR_TRANSFER},
        {"strip_fault = no_pixels\nstrip_fault_at = 2\nbuffer_size = 200\n", Mech::Clipboard, "", TWERR_TRANSFER},
        // Images the memory transfer refuses before any strip.
        {"info.length = -1\n", Mech::ToFile, "ACQR: Unable to transfer unknown length image.", TWERR_NONE},
        {"compressions = packbits\n", Mech::Memory, "ACQR: Unable to transfer compressed memory data.", TWERR_NONE},
        {"info.length = -1\n", Mech::Memory, "ACQR: Unable to transfer unknown length image.", TWERR_NONE},
        {"info.pixel_type = 4\n", Mech::Memory, "ACQR: Unable to transfer exotic pixel type: CMY,YUV,XYZ,...",
         TWERR_NONE},
        {"info.width = 0\n", Mech::Memory, "an image of 0 x 23 pixels", TWERR_NONE},
        {"info.length = 0\n", Mech::Memory, "an image of 37 x 0 pixels", TWERR_NONE},
        {"info.length = -5\n", Mech::Memory, "an image of 37 x -5 pixels", TWERR_NONE},
        {"info.width = -37\n", Mech::Memory, "an image of -37 x 23 pixels", TWERR_NONE},
        {"info.bits_per_pixel = 0\n", Mech::Memory, "0 bits per pixel", TWERR_NONE},
        {"planar = yes\ninfo.samples_per_pixel = 0\n", Mech::Memory, "planar data of 0 samples per pixel", TWERR_NONE},
        {"info.width = 100000\ninfo.length = 100000\n", Mech::Memory, "Image too large to transfer", TWERR_NONE},
        {"info.width = 2000000000\ninfo.length = 2000000000\n", Mech::Memory, "Image too large to transfer", TWERR_NONE},
        // A source that will not open at all (Wine's manager says so with a code it leaves unreported).
        {"open_failure = nods\n", Mech::Native, "", TWERR_NONE},
        {"open_failure = nods\nopen_needs_identity = yes\n", Mech::Memory, "", TWERR_NONE},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(std::string(MechName(c.mech)) + ": " + c.keys);
        UseProfile(Keys(c.keys));
        DeleteFileA(logPath.c_str());
        incompatibilityReported = false;
        Outcome out = Acquire(c.mech);
        EXPECT_EQ(out.dib, nullptr) << "an image where the source lied";
        EXPECT_FALSE(out.fileWritten);
        if (*c.box) {
            ASSERT_EQ(out.boxes.size(), 1u);
            EXPECT_TRUE(out.Shown(c.box)) << out.AllBoxes();
        } else {
            EXPECT_TRUE(out.boxes.empty()) << out.AllBoxes();
        }
        if (c.error != TWERR_NONE) {
            EXPECT_EQ(out.error, c.error);
            EXPECT_EQ(out.report.rfind("Image Transfer failed", 0), 0u) << out.report;
        }
        EXPECT_EQ(out.state, TWAIN_PRESESSION);
        ExpectNextAcquisitionWorks();
    }
}

TEST_F(AcquireThroughWine, TheIncompatibilityReportIsShownOnceAndCopied)
{
    UseProfile(Keys("strip_fault = beyond_bottom\nbuffer_size = 200\n"));
    Outcome first = Acquire(Mech::Memory);
    ASSERT_EQ(first.boxes.size(), 1u);
    EXPECT_TRUE(first.Shown("ACQUIRA Memory Transfer Incompatibility\n(mx.YOffset > info.ImageLength!)"));
    EXPECT_TRUE(first.Shown("Product \"Alpha\""));
    const std::string copied = ClipboardText();
    EXPECT_NE(copied.find("ACQUIRA Memory Transfer Incompatibility\r\n(mx.YOffset > info.ImageLength!)\r\n"),
              std::string::npos)
        << copied;
    // The same fault again in this run: no second report, still no image.
    Outcome second = Acquire(Mech::Memory);
    EXPECT_EQ(second.dib, nullptr);
    EXPECT_TRUE(second.boxes.empty());
    EXPECT_EQ(second.error, TWERR_TRANSFER);
}

// BytesPerRow neither word- nor byte-padded: reported once, and the image still comes.
TEST_F(AcquireThroughWine, OddRowsAreReportedAndStillAssembled)
{
    const PageCase cases[] = {
        {"pixel_type = bw\nrow_padding = odd\n", Mech::Memory, Page(TWPT_BW, 1), 1},
        {"pixel_type = gray\nrow_padding = odd\n", Mech::Memory, Page(TWPT_GRAY, 8), 8},
        {"pixel_type = rgb\nrow_padding = odd\nrows_per_strip = 6\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
        {"pixel_type = rgb\nrow_padding = odd\nplanar = yes\n", Mech::Memory, Page(TWPT_RGB, 24), 24},
    };
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.keys);
        UseProfile(Keys(c.keys));
        incompatibilityReported = false;
        Outcome out = Acquire(c.mech);
        ExpectPage(out.dib, c.page, 0, c.bits);
        ASSERT_EQ(out.boxes.size(), 1u);
        EXPECT_TRUE(out.Shown("(unexpected mx.BytesPerRow)"));
    }
}

// MSG_ENDXFER failing leaves the source in state 7; the session must still get out of
// it, so that the program goes on and the next acquisition works.
TEST_F(AcquireThroughWine, AFailingEndOfTransferIsRecoveredFrom)
{
    for (const char* keys : {"endxfer_failures = -1\n", "endxfer_failures = 1\npages = 2\n"}) {
        for (Mech mech : {Mech::Native, Mech::Memory}) {
            SCOPED_TRACE(std::string(MechName(mech)) + ": " + keys);
            UseProfile(Keys(keys));
            DeleteFileA(logPath.c_str());
            Outcome out = Acquire(mech);
            // The image had come whole before the source failed to end the transfer.
            ExpectPage(out.dib, vs::PageFormat{37, 23, 24, TWPT_RGB, 100.0}, 0, 24);
            EXPECT_EQ(out.state, TWAIN_PRESESSION);
            EXPECT_GE(Count("DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_FAILURE"), 1);
            EXPECT_EQ(Count("DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS -> TWRC_SUCCESS"), 1);
            ExpectNextAcquisitionWorks();
        }
    }
}

// A source whose pending count never goes down while every further transfer fails:
// neither one acquisition nor the program's repeated acquisitions may loop on it.
TEST_F(AcquireThroughWine, AStuckPendingCountNeverLoops)
{
    for (Mech mech : {Mech::Native, Mech::Memory, Mech::File}) {
        for (bool multi : {false, true}) {
            SCOPED_TRACE(std::string(MechName(mech)) + (multi ? " multi-transfer" : ""));
            UseProfile(Keys("pages = 3\ncount_stuck = yes\nfail_after = 1\n"));
            DeleteFileA(logPath.c_str());
            TWAIN_SetMultiTransfer(multi);
            int acquisitions = 0;
            int images = 0;
            // As the program's multi-page command: acquire while the source is enabled.
            do {
                Outcome out = Acquire(mech);
                images += out.dib != nullptr || out.fileWritten;
                ++acquisitions;
                if (out.hung)
                    break;
            } while (multi && TWAIN_GetState() > TWAIN_SOURCE_OPEN && acquisitions < 10);
            EXPECT_EQ(images, 1);
            EXPECT_LT(acquisitions, 10);
            EXPECT_LE(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
            TWAIN_SetMultiTransfer(false);
            ASSERT_TRUE(TWAIN_UnloadSourceManager());
            ExpectNextAcquisitionWorks();
        }
    }
}

// A program asked to quit while it waits for the scanner must still quit.
TEST_F(AcquireThroughWine, AQuitDuringTheWaitIsPassedOn)
{
    UseProfile(Keys("scan_delay = 3000\n"));
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> enabled{false};
    // Once the source is enabled, the acquisition's wait is the next to look at the queue.
    std::thread quitter([this, thread, &enabled] {
        for (DWORD start = GetTickCount(); !enabled && GetTickCount() - start < 10000; Sleep(10))
            enabled = Count("DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS -> TWRC_SUCCESS") > 0;
        if (enabled)
            PostThreadMessageA(thread, WM_QUIT, 42, 0);
    });
    Outcome out = Acquire(Mech::Native, TWFF_BMP, {}, false);
    quitter.join();
    ASSERT_TRUE(enabled) << "the source was never enabled";
    EXPECT_EQ(out.dib, nullptr);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 42u);
    ExpectNextAcquisitionWorks();
}

}  // namespace
}  // namespace twtest
