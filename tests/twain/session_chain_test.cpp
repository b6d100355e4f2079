// Walking the session up and down: opening and closing chains, Select Source, opening
// by name, listing, enabling, events and disabling, against the scripted manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/box_watch.h"
#include "scripted_dsm.h"

using boxes::BoxWatcher;

namespace twtest {
namespace {


class SessionChain : public ::testing::Test {
protected:
    void SetUp() override { InstallFake(); }
    void TearDown() override { TWAIN_ResetSessionForTest(); }

    // The real way up: open the manager and the default source, enable, and let the
    // scripted source announce a transfer.
    void WalkUpTo(int target)
    {
        if (target >= TWAIN_SOURCE_OPEN) {
            ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
        } else if (target >= TWAIN_SM_OPEN) {
            ASSERT_TRUE(TWAIN_OpenSourceManager(nullptr));
        }
        if (target >= TWAIN_SOURCE_ENABLED) {
            ASSERT_TRUE(TWAIN_EnableSource(nullptr));
        }
        if (target >= TWAIN_TRANSFER_READY) {
            TW_EVENT event{};
            Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT,
                   [](void* d) { static_cast<TW_EVENT*>(d)->TWMessage = MSG_XFERREADY; });
            ASSERT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
            Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT);
        }
        if (target >= TWAIN_TRANSFERRING) {
            TW_HANDLE handle = nullptr;
            Script(true, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_XFERDONE);
            ASSERT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        }
        ASSERT_EQ(TWAIN_GetState(), target);
        fake.calls.clear();
    }
};

TEST_F(SessionChain, OpeningTheDefaultSourceOpensTheManagerFirst)
{
    EXPECT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kOpenDsm, kOpenDs}));
    EXPECT_STREQ(TWAIN_SourceName(), "Fake One");
}

TEST_F(SessionChain, OpeningTheDefaultSourceWhileEnabledChangesNothing)
{
    WalkUpTo(TWAIN_SOURCE_ENABLED);
    EXPECT_FALSE(TWAIN_OpenDefaultSource(nullptr));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
    EXPECT_TRUE(CallsWithoutEvents().empty());
}

TEST_F(SessionChain, FailingOpenLeavesManagerOpenAndRecordsCodes)
{
    fake.managerCondition = TWCC_NODS;
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
    EXPECT_FALSE(TWAIN_OpenDefaultSource(nullptr));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_DSM_OPERATION);
    EXPECT_EQ(errorResult, TWRC_FAILURE);
    EXPECT_EQ(errorCondition, TWCC_NODS);
}

// Each starting state, walked down by unloading: the exact calls on the way.
struct DownCase {
    int from;
    TW_UINT16 countAfterEnd;
    std::vector<Call> calls;
};

TEST_F(SessionChain, UnloadingWalksDownFromEveryState)
{
    const DownCase cases[] = {
        {TWAIN_TRANSFERRING, 0, {kEndXfer, kDisable, kCloseDs, kCloseDsm}},
        {TWAIN_TRANSFERRING, 2, {kEndXfer, kReset, kDisable, kCloseDs, kCloseDsm}},
        {TWAIN_TRANSFER_READY, 0, {kReset, kDisable, kCloseDs, kCloseDsm}},
        {TWAIN_SOURCE_ENABLED, 0, {kDisable, kCloseDs, kCloseDsm}},
        {TWAIN_SOURCE_OPEN, 0, {kCloseDs, kCloseDsm}},
        {TWAIN_SM_OPEN, 0, {kCloseDsm}},
        {TWAIN_SM_LOADED, 0, {kCloseDsm}},
    };
    for (const DownCase& c : cases) {
        SCOPED_TRACE(c.from);
        InstallFake();
        WalkUpTo(c.from);
        const TW_UINT16 count = c.countAfterEnd;
        Script(true, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, TWRC_SUCCESS,
               [count](void* d) { static_cast<TW_PENDINGXFERS*>(d)->Count = count; });
        EXPECT_TRUE(TWAIN_UnloadSourceManager());
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
        EXPECT_EQ(CallsWithoutEvents(), c.calls);
    }
}

TEST_F(SessionChain, ManagerThatWillNotCloseStaysLoaded)
{
    WalkUpTo(TWAIN_SM_OPEN);
    Script(false, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE);
    EXPECT_FALSE(TWAIN_UnloadSourceManager());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
    EXPECT_NE(dsmEntry, nullptr);
}

TEST_F(SessionChain, LoadedManagerRefusingToCloseIsStillUnloaded)
{
    Script(false, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE);
    EXPECT_TRUE(TWAIN_UnloadSourceManager());
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kCloseDsm}));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
}

TEST_F(SessionChain, SourceRefusingToDisableStaysEnabled)
{
    WalkUpTo(TWAIN_SOURCE_ENABLED);
    Script(true, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE);
    EXPECT_FALSE(TWAIN_CloseSource());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kDisable}));
}

TEST_F(SessionChain, EnableSendsTheSessionsUserInterface)
{
    TW_USERINTERFACE seen{};
    Script(true, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_SUCCESS,
           [&seen](void* d) { seen = *static_cast<TW_USERINTERFACE*>(d); });
    for (bool hide : {false, true}) {
        InstallFake();
        Script(true, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_SUCCESS,
               [&seen](void* d) { seen = *static_cast<TW_USERINTERFACE*>(d); });
        TWAIN_SetHideUI(hide);
        EXPECT_TRUE(TWAIN_EnableSource(nullptr));
        EXPECT_EQ(seen.ShowUI, hide ? FALSE : TRUE);
        EXPECT_EQ(seen.ModalUI, FALSE);
        EXPECT_TRUE(IsWindow(static_cast<HWND>(seen.hParent)));  // the proxy window
        EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kOpenDsm, kOpenDs, kEnable}));
    }
}

TEST_F(SessionChain, HookPassesEveryMessageOnlyWhileEnabled)
{
    MSG message{};
    message.message = WM_USER + 5;
    WalkUpTo(TWAIN_SOURCE_OPEN);
    EXPECT_FALSE(TWAIN_MessageHook(&message));
    EXPECT_TRUE(fake.calls.empty());

    WalkUpTo(TWAIN_SOURCE_ENABLED);
    const MSG* passed = nullptr;
    Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, [&passed](void* d) {
        auto* event = static_cast<TW_EVENT*>(d);
        EXPECT_EQ(event->TWMessage, MSG_NULL);
        passed = static_cast<const MSG*>(event->pEvent);
        event->TWMessage = MSG_XFERREADY;
    });
    fake.native = [] { return TW_HANDLE(MakeDib(2, 2)); };
    EXPECT_TRUE(TWAIN_MessageHook(&message));
    EXPECT_EQ(passed, &message);
    // The image it announced is transferred right there and waits for the application.
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET), kEndXfer}));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_ENABLED);
    EXPECT_TRUE(TWAIN_IsImageReady());
}

TEST_F(SessionChain, CloseRequestFromTheSourceDisablesIt)
{
    WalkUpTo(TWAIN_SOURCE_ENABLED);
    Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT,
           [](void* d) { static_cast<TW_EVENT*>(d)->TWMessage = MSG_CLOSEDSREQ; });
    MSG message{};
    EXPECT_FALSE(TWAIN_UserClosedSource());
    EXPECT_TRUE(TWAIN_MessageHook(&message));
    EXPECT_TRUE(TWAIN_UserClosedSource());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kDisable}));
}

// A transfer announced by an event still queued when the source is disabled is
// discarded before MSG_DISABLEDS, which the source would refuse in state 6.
TEST_F(SessionChain, DisablingDiscardsATransferAnnouncedMeanwhile)
{
    WalkUpTo(TWAIN_SOURCE_ENABLED);
    Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, [](void* d) {
        static_cast<TW_EVENT*>(d)->TWMessage = MSG_XFERREADY;
        Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT);
    });
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0);
    EXPECT_TRUE(TWAIN_DisableSource());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SOURCE_OPEN);
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kReset, kDisable}));
}

TEST_F(SessionChain, FlushHandsQueuedMessagesToTheSourceAndKeepsQuit)
{
    WalkUpTo(TWAIN_SOURCE_ENABLED);
    std::vector<UINT> seen;
    Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, [&seen](void* d) {
        seen.push_back(static_cast<MSG*>(static_cast<TW_EVENT*>(d)->pEvent)->message);
    });
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 2, 0, 0);
    PostQuitMessage(7);
    TWAIN_FlushMessages();
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
    // The quit message is posted again for the outer loop, not swallowed.
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 7u);
}

TEST_F(SessionChain, SelectSourceLeavesTheManagerWhereItWas)
{
    for (int from : {TWAIN_SM_LOADED, TWAIN_SM_OPEN, TWAIN_SOURCE_OPEN}) {
        SCOPED_TRACE(from);
        InstallFake();
        WalkUpTo(from);
        EXPECT_TRUE(TWAIN_SelectImageSource(nullptr));
        EXPECT_EQ(TWAIN_GetState(), from);
        const std::vector<Call> calls = CallsWithoutEvents();
        EXPECT_NE(std::find(calls.begin(), calls.end(), ToManager(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT)),
                  calls.end());
    }
}

TEST_F(SessionChain, SelectSourceCancelledAnswersFalse)
{
    WalkUpTo(TWAIN_SM_OPEN);
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, TWRC_CANCEL);
    EXPECT_FALSE(TWAIN_SelectImageSource(nullptr));
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
}

TEST_F(SessionChain, SelectSourceWithoutManagerSaysSo)
{
    Script(false, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE);
    BoxWatcher watcher;
    EXPECT_FALSE(TWAIN_SelectImageSource(nullptr));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "Unable to open Source Manager (TWAIN_32.DLL)");
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_LOADED);
}

TEST_F(SessionChain, ListingRestartsAfterItsEnd)
{
    ASSERT_TRUE(TWAIN_BeginSourceList());
    char name[kSourceNameSize] = "junk";
    std::vector<std::string> names;
    while (TWAIN_NextSourceName(name))
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Fake One", "Fake Two"}));
    EXPECT_STREQ(name, "");
    ASSERT_TRUE(TWAIN_NextSourceName(name));
    EXPECT_STREQ(name, "Fake One");
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kOpenDsm, kGetFirst, kGetNext, kGetNext, kGetFirst}));
}

TEST_F(SessionChain, DefaultNameKeepsTheManagerOpen)
{
    char name[kSourceNameSize];
    EXPECT_TRUE(TWAIN_GetDefaultSourceName(name));
    EXPECT_STREQ(name, "Fake One");
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, TWRC_FAILURE);
    EXPECT_FALSE(TWAIN_GetDefaultSourceName(name));
    EXPECT_STREQ(name, "");
}

TEST_F(SessionChain, OpenByNameMatchesWithoutRegardToCase)
{
    EXPECT_TRUE(TWAIN_OpenSourceByName("fake TWO", nullptr));
    EXPECT_STREQ(TWAIN_SourceName(), "Fake Two");
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kOpenDsm, kGetFirst, kGetNext, kOpenDs}));
    fake.calls.clear();
    EXPECT_TRUE(TWAIN_OpenSourceByName("FAKE two", nullptr));  // same source: kept open
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(TWAIN_OpenSourceByName("Fake One", nullptr));  // another: closed, then found
    EXPECT_EQ(CallsWithoutEvents(), (std::vector<Call>{kCloseDs, kGetFirst, kOpenDs}));
    EXPECT_STREQ(TWAIN_SourceName(), "Fake One");
}

TEST_F(SessionChain, OpenByMissingNameReportsIt)
{
    BoxWatcher watcher;
    EXPECT_FALSE(TWAIN_OpenSourceByName("Nowhere", nullptr));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "No such TWAIN device: Nowhere\n[no details available]");
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
}

TEST_F(SessionChain, OpenByNameThatFailsReportsTheSourcesCodes)
{
    fake.managerCondition = TWCC_MAXCONNECTIONS;
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
    BoxWatcher watcher;
    EXPECT_FALSE(TWAIN_OpenSourceByName("Fake Two", nullptr));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text,
              "Unable to open: Fake Two\nTWAIN Source Manager operation failed\nRC:   TWRC_FAILURE\n"
              "CC:   TWCC_MAXCONNECTIONS (DS is connected to max possible apps)");
}

// A manager whose list never ends must not hang the search.
TEST_F(SessionChain, OpenByNameGivesUpOnAnEndlessList)
{
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, TWRC_SUCCESS, [](void* d) {
        std::strcpy(static_cast<TW_IDENTITY*>(d)->ProductName, "Again");
    });
    TWAIN_SuppressErrorBoxes(true);
    EXPECT_FALSE(TWAIN_OpenSourceByName("Elsewhere", nullptr));
    TWAIN_SuppressErrorBoxes(false);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
    EXPECT_LT(fake.calls.size(), 2000u);
}

TEST_F(SessionChain, OpenByNameRestoresTheCurrentDirectory)
{
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_SUCCESS,
           [&windows](void*) { SetCurrentDirectoryA(windows); });
    for (const char* name : {"Fake Two", ""}) {
        TWAIN_CloseSource();
        EXPECT_TRUE(TWAIN_OpenSourceByName(name, nullptr));
        char after[MAX_PATH];
        GetCurrentDirectoryA(sizeof after, after);
        EXPECT_STREQ(after, before);
    }
}

TEST_F(SessionChain, OpenByNameCutsLongNamesToTheMessageBuffer)
{
    const std::string name(400, 'n');
    BoxWatcher watcher;
    EXPECT_FALSE(TWAIN_OpenSourceByName(name.c_str(), nullptr));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text.size(), 255u);
    EXPECT_EQ(watcher.Seen()[0].text.rfind("No such TWAIN device: nnn", 0), 0u);
}

TEST_F(SessionChain, ProxyWindowIsMadeOnceAndInvalidWindowsAreReported)
{
    TWAIN_SetInstance(GetModuleHandleA(nullptr));
    HWND proxy = TWAIN_ResolveParentWindow(nullptr);
    ASSERT_TRUE(IsWindow(proxy));
    EXPECT_FALSE(IsWindowVisible(proxy));
    EXPECT_EQ(TWAIN_ResolveParentWindow(nullptr), proxy);
    BoxWatcher watcher;
    EXPECT_EQ(TWAIN_ResolveParentWindow(reinterpret_cast<HWND>(0x1234)), proxy);
    EXPECT_EQ(TWAIN_ResolveParentWindow(reinterpret_cast<HWND>(0x1234)), proxy);
    ASSERT_EQ(watcher.Seen().size(), 2u);
    EXPECT_EQ(watcher.Seen()[1].text, "ACQUIRA: window handle is invalid");
    EXPECT_EQ(watcher.Seen()[1].caption, "TWAIN Error");
    WalkUpTo(TWAIN_SM_OPEN);
    EXPECT_TRUE(TWAIN_UnloadSourceManager());
    EXPECT_FALSE(IsWindow(proxy));
}

}  // namespace
}  // namespace twtest
