// Enabling, events, transfers and walking down, through Wine's Source Manager and the
// virtual scanner, with the scanner's log as the witness of what was sent.
#include <algorithm>

#include "support/box_watch.h"
#include "wine_session.h"

using boxes::BoxWatcher;
using boxes::FindDialog;

namespace twtest {
namespace {

using SessionThroughWine = WineSession;

TEST_F(SessionThroughWine, TransferReadyArrivesAsAnEventFromTheThreadsQueue)
{
    TWAIN_SetHideUI(true);
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
    ASSERT_TRUE(Pump([] { return TWAIN_GetState() == TWAIN_TRANSFER_READY; }));
    EXPECT_EQ(lastPumpedMessage, RegisterWindowMessageA("WINE TWAIN_32 EVENT"));
    EXPECT_FALSE(TWAIN_UserClosedSource());
}

TEST_F(SessionThroughWine, WholeSessionSendsTheExpectedTriplets)
{
    UseProfile("[source]\nname = Alpha\nwidth = 64\nheight = 48\npixel_type = gray\nresolution = 200\n");
    ReachTransferReady();
    TW_HANDLE handle = nullptr;
    ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFERRING);
    ASSERT_NE(handle, nullptr);
    {
        auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(handle));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->biWidth, 64);
        EXPECT_EQ(header->biHeight, 48);
        EXPECT_EQ(header->biBitCount, 8);
        EXPECT_EQ(header->biXPelsPerMeter, 7874);  // 200 dpi
        GlobalUnlock(handle);
        GlobalFree(handle);
    }
    EXPECT_TRUE(TWAIN_EndTransfer());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
    EXPECT_TRUE(TWAIN_UnloadSourceManager());
    EXPECT_EQ(SessionLog(), (std::vector<std::string>{
                                "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS -> TWRC_SUCCESS | Alpha",
                                "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS -> TWRC_SUCCESS | ShowUI=FALSE",
                                "signal MSG_XFERREADY -> TWRC_SUCCESS",
                                "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET -> TWRC_XFERDONE | page 1",
                                "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_SUCCESS | Count=0",
                                "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS -> TWRC_SUCCESS",
                                "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS -> TWRC_SUCCESS | Alpha",
                            }));
}

TEST_F(SessionThroughWine, UnloadingFromAnyStateGetsBackToOne)
{
    for (int target = TWAIN_SM_LOADED; target <= TWAIN_TRANSFERRING; ++target) {
        SCOPED_TRACE(target);
        TWAIN_SetHideUI(true);
        if (target == TWAIN_SM_LOADED) {
            ASSERT_TRUE(TWAIN_LoadSourceManager());
        }
        if (target == TWAIN_SM_OPEN) {
            ASSERT_TRUE(TWAIN_OpenSourceManager(nullptr));
        }
        if (target >= TWAIN_SOURCE_OPEN) {
            ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
        }
        if (target >= TWAIN_SOURCE_ENABLED) {
            ASSERT_TRUE(TWAIN_EnableSource(nullptr));
        }
        if (target >= TWAIN_TRANSFER_READY) {
            ASSERT_TRUE(Pump([] { return TWAIN_GetState() == TWAIN_TRANSFER_READY; }));
        }
        TW_HANDLE handle = nullptr;
        if (target == TWAIN_TRANSFERRING) {
            ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        }
        ASSERT_EQ(TWAIN_GetState(), target);
        EXPECT_TRUE(TWAIN_UnloadSourceManager());
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
        if (handle)
            GlobalFree(handle);
    }
    // The source was always closed again, and never asked anything out of sequence.
    for (const std::string& line : Log())
        EXPECT_EQ(line.find("TWCC_SEQERROR"), std::string::npos) << line;
}

TEST_F(SessionThroughWine, PendingTransfersAreCountedDownAndDiscarded)
{
    UseProfile("[source]\nname = Alpha\npages = 3\n");
    ReachTransferReady();
    for (int left : {2, 1}) {
        TW_HANDLE handle = nullptr;
        ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        GlobalFree(handle);
        EXPECT_TRUE(TWAIN_EndTransfer());
        EXPECT_EQ(pendingXfers.Count, left);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFER_READY);
    }
    // The third page is still pending: disabling discards it with MSG_RESET.
    EXPECT_TRUE(TWAIN_DisableSource());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    const auto log = SessionLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> TWRC_SUCCESS | Count=2"),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "DG_CONTROL/DAT_PENDINGXFERS/MSG_RESET -> TWRC_SUCCESS"), log.end());
}

TEST_F(SessionThroughWine, UnknownCountKeepsTheSessionReady)
{
    UseProfile("[source]\nname = Alpha\npages = 2\nunknown_count = yes\n");
    ReachTransferReady();
    TW_HANDLE handle = nullptr;
    ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
    GlobalFree(handle);
    EXPECT_TRUE(TWAIN_EndTransfer());
    EXPECT_EQ(pendingXfers.Count, 0xFFFF);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFER_READY);
}

TEST_F(SessionThroughWine, EnableAnswersFromTheProfile)
{
    struct Case {
        const char* profile;
        bool enabled;
        int error;
        TW_UINT16 condition;
    };
    const Case cases[] = {
        {"enable_answer = checkstatus\n", true, TWERR_NONE, 0},
        {"enable_answer = failure\nenable_failure = lowmemory\n", false, TWERR_DS_OPERATION, TWCC_LOWMEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        UseProfile(std::string("[source]\nname = Alpha\n") + c.profile);
        TWAIN_ClearError();
        TWAIN_SetHideUI(true);
        ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
        EXPECT_EQ(TWAIN_EnableSource(nullptr), c.enabled);
        EXPECT_EQ(TWAIN_GetState(), c.enabled ? TWAIN_SOURCE_ENABLED : TWAIN_SOURCE_OPEN);
        EXPECT_EQ(TWAIN_GetLastErrorCode(), c.error);
        EXPECT_EQ(errorCondition, c.condition);
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

// Sources without their dialog often ask to be closed and then announce a transfer
// anyway. Disabling flushes that announcement through the source; it is discarded,
// and the source still ends up disabled.
TEST_F(SessionThroughWine, CloseRequestBeforeTransferReadyEndsTheSession)
{
    UseProfile("[source]\nname = Alpha\nclose_request_first = yes\n");
    TWAIN_SetHideUI(true);
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));
    ASSERT_TRUE(Pump([] { return TWAIN_UserClosedSource(); }));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    Pump([] { return false; }, 300);  // nothing left that could enable it again
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    EXPECT_EQ(SessionLog(), (std::vector<std::string>{
                                "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS -> TWRC_SUCCESS | Alpha",
                                "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS -> TWRC_SUCCESS | ShowUI=FALSE",
                                "signal MSG_CLOSEDSREQ -> TWRC_SUCCESS",
                                "signal MSG_XFERREADY -> TWRC_SUCCESS",
                                "DG_CONTROL/DAT_PENDINGXFERS/MSG_RESET -> TWRC_SUCCESS",
                                "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS -> TWRC_SUCCESS",
                            }));
}

TEST_F(SessionThroughWine, TransferAnswersFromTheProfile)
{
    struct Case {
        const char* profile;
        TW_UINT16 rc;
        int state;
    };
    const Case cases[] = {
        {"xfer_answer = cancel\n", TWRC_CANCEL, TWAIN_TRANSFERRING},
        {"xfer_answer = failure\nxfer_failure = paperjam\n", TWRC_FAILURE, TWAIN_TRANSFER_READY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        UseProfile(std::string("[source]\nname = Alpha\n") + c.profile);
        ReachTransferReady();
        TW_HANDLE handle = nullptr;
        EXPECT_FALSE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        EXPECT_EQ(TWAIN_GetResultCode(), c.rc);
        EXPECT_EQ(TWAIN_GetState(), c.state);
        EXPECT_EQ(handle, nullptr);
        if (c.rc == TWRC_FAILURE) {
            EXPECT_EQ(TWAIN_GetConditionCode(), TWCC_PAPERJAM);
        }
        ASSERT_TRUE(TWAIN_UnloadSourceManager());
    }
}

TEST_F(SessionThroughWine, ScannerDialogScanAnnouncesATransfer)
{
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    BoxWatcher watcher(IDOK, "Virtual Scanner");
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));
    ASSERT_TRUE(Pump([] { return TWAIN_GetState() == TWAIN_TRANSFER_READY; }));
    EXPECT_EQ(watcher.Seen().size(), 1u);
}

TEST_F(SessionThroughWine, ScannerDialogCancelClosesTheSource)
{
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    BoxWatcher watcher(IDCANCEL, "Virtual Scanner");
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));
    ASSERT_TRUE(Pump([] { return TWAIN_UserClosedSource(); }));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    EXPECT_EQ(FindDialog("Virtual Scanner"), nullptr);  // disabling took the dialog away
}

}  // namespace
}  // namespace twtest
