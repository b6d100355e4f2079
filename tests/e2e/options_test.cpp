// The options an operator chose come back at the next start, and Reset Options gives the
// initial ones back: told by the pages the scans then store.
#include "scanner.h"

namespace {
constexpr int kAcquire = 100, kSaveImage = 115, kScannedAsBlackAndWhite = 154, kResetOptions = 155;

TEST_F(ScannerTest, OptionsSurviveARestartAndResetOptionsGivesTheInitialOnes)
{
    StartFor(3);
    ASSERT_TRUE(driver::Command(program_.window, kScannedAsBlackAndWhite));
    CloseAndExpectExit();
    driver::Release(program_);
    for (int bits : {1, 24}) {
        SCOPED_TRACE(bits);
        StartFor(3, "CALLS.DB", true);
        driver::PostCommand(program_.window, kAcquire);
        ASSERT_TRUE(ScannerButton(IDOK));
        // Held until the scan has ended, so it stores the page as it came in.
        ASSERT_TRUE(driver::Command(program_.window, kSaveImage));
        storefiles::Bytes stored;
        for (DWORD start = GetTickCount(); stored.empty() && GetTickCount() - start < 20000; Sleep(100))
            stored = StoredImage(3);
        ASSERT_GT(stored.size(), 30u);
        EXPECT_EQ(stored[28], bits) << "the scanned page as stored";
        ASSERT_TRUE(driver::Command(program_.window, kResetOptions));
        CloseAndExpectExit();
        driver::Release(program_);
        DeleteFileA(Path("pagorex.idx").c_str());
    }
}
}  // namespace
