// The window is never destroyed and the store never touched inside an acquisition: a
// close from the host, Exit/Save, Exit/Abort and Save Image that arrive while the
// program waits for the scanner run once the scan has ended, and an Acquire that arrives
// during store work waits for it.
#include "scanner.h"

#include <windows.h>

namespace {
using storefiles::Bytes;

constexpr int kAcquire = 100, kSelectSource = 103, kExitSave = 104, kSaveImage = 115, kExitAbort = 117;
constexpr int kClose = 0;  // WM_CLOSE, as a host closes the window
constexpr uint32_t kBlue = RGB(0, 0, 220);

class HoldTest : public ScannerTest {
protected:
    // The stored image holds the scanner's page, pixel for pixel.
    void ExpectStoredPage(int record)
    {
        Bytes image = StoredImage(record);
        ASSERT_FALSE(image.empty()) << "nothing stored";
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                vs::Rgb c = vs::PagePixelColor(kRgbPage, x, y, 0);
                wrong += storefiles::BitmapPixel(image, x, y) != RGB(c.red, c.green, c.blue);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
};

struct DuringCase {
    const char* name;
    int command;        // arrives while the scanner's window is up; kClose for WM_CLOSE
    int scannerButton;  // how the person at the scanner ends the scan
    bool ends;          // the program ends once the scan has
    bool stores;        // the store then holds the scanned page; otherwise it is untouched
};

TEST_F(HoldTest, CommandsDuringAnAcquisitionRunOnceItHasEnded)
{
    const DuringCase cases[] = {
        {"closed by the host, then Scan", kClose, IDOK, true, false},
        {"closed by the host, then Cancel", kClose, IDCANCEL, true, false},
        {"Exit/Save, then Scan", kExitSave, IDOK, true, true},
        {"Exit/Abort, then Cancel", kExitAbort, IDCANCEL, true, false},
        {"Save Image, then Scan", kSaveImage, IDOK, false, true},
    };
    for (const DuringCase& c : cases) {
        SCOPED_TRACE(c.name);
        StoreImage(12, kBlue);
        Bytes index = driver::ReadFileBytes(Path("pagorex.idx"));
        Bytes data = driver::ReadFileBytes(Path("pagorex.dat"));
        StartFor(12);
        EXPECT_EQ(driver::WaitForPixel(program_.window, 3, 3, kBlue), kBlue);
        driver::PostCommand(program_.window, kAcquire);
        driver::MessageBoxInfo scanner = WaitForCaption("Virtual Scanner");
        ASSERT_TRUE(scanner.window);
        if (c.command == kClose) {
            driver::Close(program_.window);
        } else {
            driver::PostCommand(program_.window, c.command);
            // A second one is held too, and still runs once.
            driver::PostCommand(program_.window, c.command);
        }
        EXPECT_EQ(driver::WaitForExit(program_, 700), -1) << "ended inside the acquisition";
        EXPECT_TRUE(IsWindowVisible(scanner.window)) << "the scan was cut short";
        EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.idx")), index) << "the store changed during the scan";
        ASSERT_TRUE(ScannerButton(c.scannerButton));
        if (c.scannerButton == IDCANCEL)
            AnswerBox("TWAIN Error", "User closed DS");
        if (c.command == kExitAbort) {
            driver::MessageBoxInfo question = WaitForCaption("");
            ASSERT_TRUE(question.window);
            EXPECT_EQ(question.text, "Are you positive you wish to abort any changes?");
            driver::PressButton(question.window, IDYES);
        }
        if (c.ends) {
            EXPECT_EQ(driver::WaitForExit(program_), 0);
        } else {
            ExpectShowsPage(kRgbPage, 0);
            ExpectNoBox();
            CloseAndExpectExit();
        }
        driver::Release(program_);
        if (c.stores) {
            EXPECT_EQ(storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx"))).size(), 1u);
            ExpectStoredPage(12);
        } else {
            EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.idx")), index);
            EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.dat")), data);
        }
        DeleteFileA(logPath_.c_str());
    }
}

TEST_F(HoldTest, AcquireDuringStoreWorkWaitsForIt)
{
    // A record as an earlier writer left it, uncompressed: the start-up compaction runs
    // and holds the store while its warning is up.
    Bytes index, data;
    storefiles::AddRecord(index, data, 1, storefiles::Bitmap24(40, 30, [](int, int) -> uint32_t { return kBlue; }),
                          false);
    driver::WriteFileBytes(Path("pagorex.idx"), index);
    driver::WriteFileBytes(Path("pagorex.dat"), data);
    StartFor(13);
    driver::MessageBoxInfo warning = driver::WaitForMessageBox(program_);
    ASSERT_TRUE(warning.window);
    EXPECT_EQ(warning.caption, "Vocalix Imager");
    driver::PostCommand(program_.window, kAcquire);
    EXPECT_FALSE(WaitForCaption("Virtual Scanner", 800).window) << "the scan started inside the compaction";
    EXPECT_EQ(LogCount("MSG_OPENDS"), 0);
    driver::PressButton(warning.window, IDOK);
    ASSERT_TRUE(ScannerButton(IDOK));
    ExpectShowsPage(kRgbPage, 0);
    auto records = storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx")));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].compressed, 1) << "the compaction finished";
    CloseAndExpectExit();
}
// The Source Manager's own dialog runs inside the manager: a close waits for it too.
TEST_F(HoldTest, SelectSourceShowsTheManagersDialogAndACloseWaitsForIt)
{
    StartFor(14);
    driver::PostCommand(program_.window, kSelectSource);
    driver::MessageBoxInfo dialog = WaitForCaption("Select Source");
    ASSERT_TRUE(dialog.window);
    driver::Close(program_.window);
    EXPECT_EQ(driver::WaitForExit(program_, 700), -1) << "closed under the manager's dialog";
    EXPECT_TRUE(IsWindowVisible(dialog.window));
    driver::PressButton(dialog.window, IDCANCEL);
    EXPECT_EQ(driver::WaitForExit(program_), 0);
}
}  // namespace
