// Acquisitions end to end through Wine that do not go as planned: cancels and close
// requests, and every way the scanner can lie or misbehave: no crash, no hang, no image
// where it lied, the right message, and a session from which the next acquisition works.
#include "acquire_through_wine.h"

namespace twtest {
namespace {

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
