// Several pages from one source: Acquire Multi-Page, and a source that stays enabled
// between acquisitions (multi-transfer) and delivers pages on its own.
#include "scanner.h"

#include <windows.h>

#include <algorithm>

namespace {
constexpr int kAcquire = 100, kAcquireMultiPage = 133, kMultiTransfer = 121, kHideUI = 113, kFile = 129,
              kExitSave = 104, kSkipBlankPages = 156, kNextPage = 160;
constexpr char kNativeDone[] = "DAT_IMAGENATIVEXFER/MSG_GET -> TWRC_XFERDONE";

class MultiPageTest : public ScannerTest {};

TEST_F(MultiPageTest, ThreePagesAreShownInTurnThenTheSourceCloses)
{
    StartFor(8);
    driver::PostCommand(program_.window, kAcquireMultiPage);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        ASSERT_TRUE(ScannerButton(IDOK));
        ExpectShowsPage(kRgbPage, page);
    }
    EXPECT_EQ(LogCount("MSG_ENABLEDS"), 1) << "one session for all pages";
    ASSERT_TRUE(ScannerButton(IDCANCEL));
    ASSERT_TRUE(WaitForLog(kSourceClosed));
    ExpectNoBox();  // no "User closed DS" after a multi-page scan
    ExpectShowsPage(kRgbPage, 2);

    // Multi-transfer is off again: a plain Acquire closes the source after its page.
    driver::PostCommand(program_.window, kAcquire);
    ASSERT_TRUE(ScannerButton(IDOK));
    ExpectShowsPage(kRgbPage, 0);
    EXPECT_TRUE(WaitForLog(kSourceClosed, 2));
    CloseAndExpectExit();
}

TEST_F(MultiPageTest, RefusedWhileAMultiTransferAcquireKeepsTheSourceEnabled)
{
    StartFor(9);
    ASSERT_TRUE(driver::Command(program_.window, kMultiTransfer));
    driver::PostCommand(program_.window, kAcquire);
    ASSERT_TRUE(ScannerButton(IDOK));
    ExpectShowsPage(kRgbPage, 0);
    // The source stays enabled with its window up; Multi-Page does not start.
    ASSERT_TRUE(driver::Command(program_.window, kAcquireMultiPage));
    EXPECT_EQ(LogCount(kSourceClosed), 0);
    ExpectShowsPage(kRgbPage, 0);
    CloseAndExpectExit();
    // Counted over the whole run: whatever the refused command left queued ran before
    // the close.
    EXPECT_EQ(LogCount("MSG_ENABLEDS"), 1);
    EXPECT_EQ(LogCount(kNativeDone), 1);
    EXPECT_EQ(LogCount(kSourceClosed), 1) << "closing the window closes the source";
}

struct EndCase {
    const char* name;
    const char* profile;
    bool fileTransfer;  // the second page's file dialog is cancelled
};

// A round that brings no page and leaves the session as it was ends the loop: the
// source is closed and the program goes on, with the last page shown.
TEST_F(MultiPageTest, LoopEndsWhenARoundBringsNothing)
{
    const EndCase cases[] = {
        {"a page that never transfers stays pending", "count_stuck = yes\nfail_after = 0\n", false},
        {"the file dialog of the second page is cancelled", "", true},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        UseProfile(c.profile);
        DeleteFileA(logPath_.c_str());
        StartFor(10);
        if (c.fileTransfer) {
            ASSERT_TRUE(driver::Command(program_.window, kFile));
        }
        driver::PostCommand(program_.window, kAcquireMultiPage);
        if (c.fileTransfer) {
            driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
            ASSERT_TRUE(driver::AnswerFileDialog(dialog.window, Path("first")));
        }
        ASSERT_TRUE(ScannerButton(IDOK));
        if (c.fileTransfer) {
            driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_, 10000, scannerWindow_);
            ASSERT_TRUE(dialog.window);
            ASSERT_TRUE(driver::AnswerFileDialog(dialog.window, ""));
        }
        ASSERT_TRUE(WaitForLog(kSourceClosed));
        ExpectNoBox(1500);
        if (c.fileTransfer)
            ExpectShowsPage(kRgbPage, 0);
        EXPECT_EQ(driver::WaitForExit(program_, 0), -1) << "the program goes on";
        CloseAndExpectExit();
        driver::Release(program_);
    }
}

// A feeder batch of distinct pages with blank ones among them: every other page is kept,
// in order, and stored as one document; an older reader (the first record of the number)
// sees page 1, and the next run shows every page again.
TEST_F(MultiPageTest, EveryPageOfABatchIsStoredInOrderWithoutTheBlanksAndComesBack)
{
    // Grey ramps of a phase of their own, dark from edge to edge.
    const vs::PageFormat format{400, 300, 8, TWPT_GRAY, 100};
    const std::vector<int> kept = {0, 2, 3, 5};  // the batch's second and fifth pages are blank
    UseProfile("width = 400\nheight = 300\npixel_type = gray\npages = 6\nblank_pages = 2, 5\n");
    StartFor(12);
    ASSERT_TRUE(driver::Command(program_.window, kSkipBlankPages));
    driver::PostCommand(program_.window, kAcquireMultiPage);
    ASSERT_TRUE(ScannerButton(IDOK));
    ASSERT_TRUE(WaitForLog(kNativeDone, 6));
    ASSERT_TRUE(ScannerButton(IDCANCEL));
    AnswerBox("PAGOREX", "2 blank pages of the batch were left out (Options > Skip Blank Pages).");
    EXPECT_EQ(driver::Title(program_.window), "Pagorex - Page Capture - Page 4 of 4");
    driver::PostCommand(program_.window, kExitSave);
    ASSERT_EQ(driver::WaitForExit(program_, 30000), 0);
    driver::Release(program_);

    const storefiles::Bytes data = driver::ReadFileBytes(Path("pagorex.dat"));
    std::vector<storefiles::Record> pages;
    for (const storefiles::Record& r : storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx"))))
        if (r.recordNumber == 12 && !r.deleted)
            pages.push_back(r);
    ASSERT_EQ(pages.size(), kept.size());
    EXPECT_EQ(storefiles::ImageOf(pages[0], data), vs::PageBitmapFile(format, 0)) << "what an older reader shows";
    std::sort(pages.begin() + 1, pages.end(), [](const storefiles::Record& a, const storefiles::Record& b) {
        return storefiles::ReadMark(a).page < storefiles::ReadMark(b).page;
    });
    for (size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        EXPECT_EQ(storefiles::ReadMark(pages[i]).page, i + 1);
        EXPECT_EQ(storefiles::ReadMark(pages[i]).pages, kept.size());
        EXPECT_EQ(storefiles::ImageOf(pages[i], data), vs::PageBitmapFile(format, kept[i]));
    }

    StartFor(12);
    EXPECT_EQ(driver::Title(program_.window), "Pagorex - Page Capture - Page 1 of 4");
    for (size_t i = 0; i < kept.size(); ++i) {
        ExpectShowsPage(format, kept[i]);
        driver::PostCommand(program_.window, kNextPage);
    }
    CloseAndExpectExit();
}

// In multi-transfer mode the source stays enabled; pages it announces on its own pass
// the main loop's hook, which posts Acquire to show them.
TEST_F(MultiPageTest, PagesTheSourceDeliversOnItsOwnAreShown)
{
    UseProfile("scan_delay = 400\nscans = 3\n");
    StartFor(11);
    ASSERT_TRUE(driver::Command(program_.window, kHideUI));
    ASSERT_TRUE(driver::Command(program_.window, kMultiTransfer));
    driver::PostCommand(program_.window, kAcquire);
    // One Acquire takes the first page; the source stays enabled and the next two
    // arrive without anybody asking (the first may already be replaced when we look).
    ASSERT_TRUE(WaitForLog(kNativeDone, 3));
    ExpectShowsPage(kRgbPage, 2);
    EXPECT_EQ(LogCount("MSG_ENABLEDS"), 1);
    EXPECT_EQ(LogCount("MSG_DISABLEDS"), 0);
    ExpectNoBox();
    CloseAndExpectExit();
}
}  // namespace
