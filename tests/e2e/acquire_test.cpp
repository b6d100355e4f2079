// Acquiring from the window with the virtual scanner: every transfer mechanism into the
// window and the store, scans that bring no image, the file dialog of a file transfer,
// options the scanner lacks, and the clipboard.
#include "scanner.h"

#include <windows.h>

#include <optional>

namespace {
using storefiles::Bytes;

constexpr int kAcquire = 100, kAcquireToClipboard = 101, kSaveImage = 115, kExitSave = 104;
constexpr int kBW = 107, kGray = 108, kMemory = 127, kFile = 129, kDuplex = 125, kFeederEnable = 124,
              kSuppressErrors = 132;
constexpr int kFilterCombo = 0x470;
constexpr uint32_t kGreen = RGB(0, 200, 0);

class AcquireTest : public ScannerTest {
protected:
    // Answers the file dialog of a file transfer: picks filter (-1 keeps the one shown),
    // types name (empty: cancels). Answers the filter the dialog opened on.
    int AnswerTransferDialog(const std::string& name, int filter = -1)
    {
        driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
        EXPECT_TRUE(dialog.window) << "no file dialog";
        if (!dialog.window)
            return -1;
        // The dialog is ready for an answer once its filter list shows a filter.
        HWND combo = nullptr;
        int shown = CB_ERR;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20)) {
            combo = GetDlgItem(dialog.window, kFilterCombo);
            shown = combo ? static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0)) : CB_ERR;
            if (shown != CB_ERR)
                break;
        }
        if (filter >= 0 && !name.empty()) {
            SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(filter), 0);
            for (WORD notification : {CBN_SELCHANGE, CBN_SELENDOK})
                SendMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(kFilterCombo, notification),
                             reinterpret_cast<LPARAM>(combo));
        }
        EXPECT_TRUE(driver::AnswerFileDialog(dialog.window, name.empty() ? "" : Path(name)));
        for (int i = 0; i < 250 && IsWindow(dialog.window); ++i)
            Sleep(20);
        return shown;
    }
    void ExpectShowsStoredGreen()
    {
        EXPECT_EQ(driver::WaitForPixel(program_.window, 3, 3, kGreen), kGreen);
        EXPECT_EQ(driver::SettledPixel(program_.window, kWidth - 2, kHeight - 2), kGreen);
    }
};

struct TransferCase {
    const char* name;
    std::vector<int> commands;  // options chosen before Acquire
    const char* fileName;       // typed in the file dialog of a file transfer, or null
    vs::PageFormat format;      // the page as it arrives
    const char* logged;         // a line of the scanner's log that tells the mechanism
};

TEST_F(AcquireTest, EachTransferShowsThePageAndSaveImageKeepsIt)
{
    const vs::PageFormat bw{kWidth, kHeight, 1, TWPT_BW, 100};
    const TransferCase cases[] = {
        {"native", {}, nullptr, kRgbPage, "DAT_IMAGENATIVEXFER/MSG_GET -> TWRC_XFERDONE"},
        {"memory", {kMemory}, nullptr, kRgbPage, "DAT_IMAGEMEMXFER/MSG_GET -> TWRC_XFERDONE"},
        {"file, typed without extension", {kFile}, "page", kRgbPage,
         "DAT_IMAGEFILEXFER/MSG_GET -> TWRC_XFERDONE | FileName=" },
        {"memory, B&W and Grayscale", {kMemory, kBW, kGray}, nullptr, bw,
         "ICAP_PIXELTYPE received ENUMERATION UINT16 items=0,1 "},
    };
    for (const TransferCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"pagorex.idx", "pagorex.dat", "scanner-log.txt", "page.bmp"})
            DeleteFileA(Path(name).c_str());
        StartFor(3);
        for (int command : c.commands)
            ASSERT_TRUE(driver::Command(program_.window, command));
        driver::PostCommand(program_.window, kAcquire);
        if (c.fileName) {
            EXPECT_EQ(AnswerTransferDialog(c.fileName), TWFF_BMP) << "the dialog opens on Windows Bitmap";
        }
        ASSERT_TRUE(ScannerButton(IDOK));
        ExpectShowsPage(c.format, 0);
        EXPECT_GE(LogCount(c.logged), 1) << c.logged;
        if (c.fileName) {
            // ".bmp" was appended, the source wrote the page there, and it was read back.
            EXPECT_EQ(driver::ReadFileBytes(Path("page.bmp")), vs::PageBitmapFile(c.format, 0));
            EXPECT_EQ(LogCount("page.bmp Format=TWFF_BMP"), 2);
        }
        ASSERT_TRUE(driver::Command(program_.window, kSaveImage));
        CloseAndExpectExit();
        driver::Release(program_);
        EXPECT_FALSE(StoredImage(3).empty());

        StartFor(3);
        ExpectShowsPage(c.format, 0);
        CloseAndExpectExit();
        driver::Release(program_);
    }
}

// Puts the scanner out of the Wine prefix's reach for as long as it lives.
class ScannerRemoved {
public:
    ScannerRemoved()
    {
        char windows[MAX_PATH] = "";
        GetWindowsDirectoryA(windows, sizeof windows);
        // Wine's manager loads sources from twain_32, or twain_64 in a 64-bit prefix.
        installed_ = std::string(windows) + (sizeof(void*) == 8 ? "\\twain_64" : "\\twain_32") + "\\sane.ds";
        away_ = installed_ + ".away";
        moved_ = MoveFileA(installed_.c_str(), away_.c_str()) != 0;
    }
    ~ScannerRemoved()
    {
        if (moved_)
            MoveFileA(away_.c_str(), installed_.c_str());
    }
    ScannerRemoved(const ScannerRemoved&) = delete;
    ScannerRemoved& operator=(const ScannerRemoved&) = delete;
    bool moved() const { return moved_; }

private:
    std::string installed_, away_;
    bool moved_ = false;
};

struct NoImageCase {
    const char* name;
    const char* profile;
    std::vector<int> commands;  // options chosen before Acquire
    bool noScanner;             // no source installed at all
    const char* fileName;       // the file dialog's answer ("" cancels), or null: no dialog
    int scannerButton;          // IDOK or IDCANCEL; 0: the scanner's window never shows
    const char* report;         // the "TWAIN Error" box, or null for none
};

// However an Acquire ends without a new image, the record's image stays shown, and
// Exit/Save out of habit stores it again instead of marking the record deleted.
TEST_F(AcquireTest, ScanWithoutAnImageKeepsTheImageShownAndStored)
{
    const NoImageCase cases[] = {
        {"no source installed", "", {}, true, nullptr, 0, nullptr},
        {"the source cannot be opened", "open_failure = maxconnections\n", {}, false, nullptr, 0, nullptr},
        {"Cancel in the scanner's window", "", {}, false, nullptr, IDCANCEL, "User closed DS"},
        {"Cancel with error dialogs suppressed", "", {kSuppressErrors}, false, nullptr, IDCANCEL, nullptr},
        {"the transfer fails", "xfer_answer = failure\n", {}, false, nullptr, IDOK,
         "Image Transfer failed\nRC:   TWRC_FAILURE\nCC:   TWCC_BUMMER (Failure due to unknown causes)"},
        {"the file dialog is cancelled", "", {kFile}, false, "", 0, "[no details available]"},
    };
    for (const NoImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        UseProfile(c.profile);
        Bytes image = StoreImage(4, kGreen);
        StartFor(4);
        ExpectShowsStoredGreen();
        for (int command : c.commands)
            ASSERT_TRUE(driver::Command(program_.window, command));
        {
            std::optional<ScannerRemoved> removed;
            if (c.noScanner) {
                removed.emplace();
                ASSERT_TRUE(removed->moved());
            }
            driver::PostCommand(program_.window, kAcquire);
            if (c.fileName)
                AnswerTransferDialog(c.fileName);
            if (c.scannerButton) {
                ASSERT_TRUE(ScannerButton(c.scannerButton));
            }
            if (c.report)
                AnswerBox("TWAIN Error", c.report);
            else
                ExpectNoBox();
        }
        ExpectShowsStoredGreen();
        // Whatever ended the scan, the source is closed again, so the next Acquire opens
        // it with the options then chosen.
        EXPECT_EQ(LogCount(kSourceClosed), LogCount("DAT_IDENTITY/MSG_OPENDS -> TWRC_SUCCESS"));
        driver::PostCommand(program_.window, kExitSave);
        EXPECT_EQ(driver::WaitForExit(program_), 0);
        driver::Release(program_);
        EXPECT_EQ(StoredImage(4), image) << "the record lost its image";
    }
}

TEST_F(AcquireTest, TiffFilterIsRememberedAndItsFileShowsNoImage)
{
    Bytes image = StoreImage(5, kGreen);
    StartFor(5);
    ASSERT_TRUE(driver::Command(program_.window, kFile));
    driver::PostCommand(program_.window, kAcquire);
    EXPECT_EQ(AnswerTransferDialog("scan", TWFF_TIFF), TWFF_BMP);
    ASSERT_TRUE(ScannerButton(IDOK));
    AnswerBox("TWAIN Error", "[no details available]");
    // The source wrote a TIFF file, which is no bitmap file: the image stays.
    Bytes tiff = driver::ReadFileBytes(Path("scan.tif"));
    ASSERT_GE(tiff.size(), 4u);
    EXPECT_EQ(Bytes(tiff.begin(), tiff.begin() + 4), (Bytes{'I', 'I', 42, 0}));
    ExpectShowsStoredGreen();

    driver::PostCommand(program_.window, kAcquire);
    EXPECT_EQ(AnswerTransferDialog(""), TWFF_TIFF) << "the next dialog opens on the TIFF filter";
    AnswerBox("TWAIN Error", "[no details available]");
    ExpectShowsStoredGreen();
    CloseAndExpectExit();
}

struct LackingCase {
    const char* name;
    int option;
    const char* message;
    bool everyOpening;  // shown at every Acquire, or only the first
};

TEST_F(AcquireTest, OptionsTheScannerLacksAreToldAndTheScanGoesOn)
{
    const LackingCase cases[] = {
        {"duplex on a simplex scanner", kDuplex, "Duplex: Device reports no duplex support.", true},
        {"feeder on a flatbed", kFeederEnable, "This source indicates it has no document feeder.", false},
    };
    for (const LackingCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartFor(6);
        ASSERT_TRUE(driver::Command(program_.window, c.option));
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            driver::PostCommand(program_.window, kAcquire);
            if (round == 0 || c.everyOpening) {
                AnswerBox("PAGOREX", c.message);
            } else {
                // Nothing stands before the scanner's own window.
                EXPECT_EQ(driver::WaitForMessageBox(program_).caption, "Virtual Scanner");
            }
            ASSERT_TRUE(ScannerButton(IDOK));
            ExpectShowsPage(kRgbPage, 0);
            ASSERT_TRUE(WaitForLog(kSourceClosed, round + 1));
        }
        CloseAndExpectExit();
        driver::Release(program_);
    }
}

// The clipboard's DIB, read pixel by pixel: a 24-bit DIB without a colour table.
vs::Rgb ClipboardPixel(const Bytes& dib, int x, int y)
{
    auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
    size_t rowBytes = (static_cast<size_t>(header->biWidth) * 3 + 3) & ~size_t(3);
    size_t row = header->biHeight > 0 ? static_cast<size_t>(header->biHeight - 1 - y) : static_cast<size_t>(y);
    const unsigned char* p = dib.data() + header->biSize + row * rowBytes + static_cast<size_t>(x) * 3;
    return vs::Rgb{p[2], p[1], p[0]};
}

Bytes ClipboardDib()
{
    Bytes dib;
    if (!OpenClipboard(nullptr))
        return dib;
    if (HANDLE data = GetClipboardData(CF_DIB)) {
        if (auto* bytes = static_cast<const unsigned char*>(GlobalLock(data))) {
            dib.assign(bytes, bytes + GlobalSize(data));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return dib;
}

TEST_F(AcquireTest, AcquireToClipboardPutsThePageThereOrSaysItCouldNot)
{
    for (int button : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(button == IDOK ? "Scan" : "Cancel");
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        CloseClipboard();
        StartFor(7);
        driver::PostCommand(program_.window, kAcquireToClipboard);
        ASSERT_TRUE(ScannerButton(button));
        if (button == IDCANCEL) {
            AnswerBox("PAGOREX", "No image was acquired or transfer to the clipboard failed.");
            EXPECT_TRUE(ClipboardDib().empty());
        } else {
            ASSERT_TRUE(WaitForLog(kSourceClosed));
            Bytes dib = ClipboardDib();
            ASSERT_GE(dib.size(), sizeof(BITMAPINFOHEADER));
            auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
            ASSERT_EQ(header->biWidth, kWidth);
            ASSERT_EQ(std::abs(header->biHeight), kHeight);
            ASSERT_EQ(header->biBitCount, 24);
            ASSERT_GE(dib.size(), header->biSize + static_cast<size_t>(kHeight) * ((kWidth * 3 + 3) & ~3));
            int wrong = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    wrong += !(ClipboardPixel(dib, x, y) == vs::PagePixelColor(kRgbPage, x, y, 0));
            EXPECT_EQ(wrong, 0);
            EXPECT_GE(LogCount("DAT_IMAGEMEMXFER/MSG_GET -> TWRC_XFERDONE"), 1) << "a memory transfer";
        }
        // The window's own image is not changed.
        EXPECT_EQ(driver::SettledPixel(program_.window, 5, 5), RGB(0, 0, 0));
        CloseAndExpectExit();
        driver::Release(program_);
        DeleteFileA(logPath_.c_str());
    }
}
}  // namespace
