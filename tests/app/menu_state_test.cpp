// The menu-state rules, read in-process: Wine cannot read another process's menu.
#include "app/acquire.h"
#include "app/page.h"
#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib.h"
#include "resources/resource.h"
#include "twain/test_seam.h"
#include "support/box_watch.h"
#include "twain/twain.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {
class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        appInstance = GetModuleHandleA(nullptr);
        RegisterMainWindowClass(appInstance);
    }
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        ParseCommandLine((std::string("1 ") + temp + "pgx-menu-none\\x.db").c_str());
        ASSERT_TRUE(CreateMainWindow(SW_HIDE));
        menu_ = GetMenu(mainWindow);
    }
    void TearDown() override
    {
        ResetAcquisitionOptions();
        DestroyWindow(mainWindow);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    UINT State(int id)
    {
        SendMessageA(mainWindow, WM_INITMENU, reinterpret_cast<WPARAM>(menu_), 0);
        return GetMenuState(menu_, id, MF_BYCOMMAND);
    }
    bool Checked(int id) { return (State(id) & MF_CHECKED) != 0; }
    bool Greyed(int id) { return (State(id) & MF_GRAYED) != 0; }
    // Every run starts with these.
    static void ResetAcquisitionOptions()
    {
        acquireBusy = 0;
        pixelTypeMask = 0;
        hideSourceUI = 0;
        transferMode = kNativeTransfer;
        feederMode = 0;
        autoFeed = 0;
        duplexEnabled = 0;
        suppressErrorDialogs = 0;
        TWAIN_SuppressErrorBoxes(false);
        TWAIN_SetMultiTransfer(false);
        TWAIN_SetDisableParent(true);
    }
    HMENU menu_ = nullptr;
};

// The items whose state a rule sets, with the state each should show.
struct Expected {
    std::vector<int> checked;
    std::vector<int> unchecked;
    std::vector<int> greyed;
    std::vector<int> enabled;
};

constexpr int kAcquisitionItems[] = {CMD_ACQUIRE, CMD_ACQUIRE_CLIPBOARD, CMD_ACQUIRE_MULTIPAGE, CMD_SELECT_SOURCE};

TEST_F(MainWindowTest, SaveAsFileAndTheTurnsAreGreyedOnlyWithoutAnImage)
{
    ASSERT_EQ(currentDib, nullptr);
    for (int id : {CMD_SAVE_AS_FILE, CMD_TURN_CLOCKWISE, CMD_TURN_COUNTERCLOCKWISE, CMD_TURN_HALF}) {
        EXPECT_TRUE(State(id) & MF_GRAYED) << id;
        currentDib = GlobalAlloc(GMEM_MOVEABLE, 64);
        EXPECT_FALSE(State(id) & MF_GRAYED) << id;
        GlobalFree(currentDib);
        currentDib = nullptr;
    }
}

TEST_F(MainWindowTest, ATurnWaitsForWorkUnderWayAndWithoutMemoryLeavesTheImage)
{
    currentDib = DibCreate(24, 3, 2);
    {
        AcquisitionWork work(mainWindow);
        SendMessageA(mainWindow, WM_COMMAND, CMD_TURN_CLOCKWISE, 0);
        EXPECT_EQ(DibWidth(currentDib), 3) << "held";
    }
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    EXPECT_EQ(DibWidth(currentDib), 2) << "run once the work has ended";
    HGLOBAL before = currentDib;
    turnMemoryFailsForTest = true;
    auto texts = boxes::BoxTextsShownBy([] { SendMessageA(mainWindow, WM_COMMAND, CMD_TURN_HALF, 0); });
    turnMemoryFailsForTest = false;
    EXPECT_EQ(currentDib, before);
    EXPECT_EQ(texts, std::vector<std::string>{"There is not enough memory to turn the page. It is left as it was."});
    ReleaseCurrentImage();
}

TEST_F(MainWindowTest, StretchIsCheckedWhileTheSettingIsNonZero)
{
    for (unsigned char value : {0, 1, 2, 0}) {
        stretchToWindow = value;
        EXPECT_EQ((State(CMD_STRETCH) & MF_CHECKED) != 0, value != 0) << int(value);
    }
    // The command toggles: any non-zero value becomes 0.
    stretchToWindow = 2;
    SendMessageA(mainWindow, WM_COMMAND, CMD_STRETCH, 0);
    EXPECT_EQ(stretchToWindow, 0);
    EXPECT_FALSE(GetMenuState(menu_, CMD_STRETCH, MF_BYCOMMAND) & MF_CHECKED);
    SendMessageA(mainWindow, WM_COMMAND, CMD_STRETCH, 0);
    EXPECT_EQ(stretchToWindow, 1);
    EXPECT_TRUE(GetMenuState(menu_, CMD_STRETCH, MF_BYCOMMAND) & MF_CHECKED);
    stretchToWindow = 0;
}

TEST_F(MainWindowTest, ItemsWithoutRulesStayEnabledAndUnchecked)
{
    for (int id : {CMD_OPEN_FILE, CMD_SAVE_IMAGE, CMD_CLEAR_IMAGE, CMD_EXIT_SAVE, CMD_EXIT_ABORT})
        EXPECT_EQ(State(id) & (MF_GRAYED | MF_CHECKED), 0u) << id;
}
}  // namespace

namespace {
struct RuleCase {
    const char* name;
    std::function<void()> set;
    Expected expected;
};

// The check marks of every option as its command sets it are in the next test.
TEST_F(MainWindowTest, AcquisitionItemsStartFromTheInitialOptionsAndGreyWhileBusy)
{
    const std::vector<int> acquisition(std::begin(kAcquisitionItems), std::end(kAcquisitionItems));
    const RuleCase cases[] = {
        {"initial values", [] {},
         {{CMD_PIXEL_ALL, CMD_SHOW_UI, CMD_DISABLE_PARENT, CMD_XFER_NATIVE},
          {CMD_PIXEL_BW, CMD_PIXEL_GRAY, CMD_PIXEL_RGB, CMD_PIXEL_PALETTE, CMD_HIDE_UI, CMD_MULTI_TRANSFER, CMD_DUPLEX,
           CMD_FEEDER_DISABLE, CMD_FEEDER_ENABLE, CMD_AUTOFEED, CMD_XFER_MEMORY, CMD_XFER_FILE, CMD_SUPPRESS_ERRORS},
          {CMD_CLOSE_SOURCE},
          acquisition}},
        {"acquisition under way", [] { acquireBusy = 1; }, {{}, {}, acquisition, {CMD_CLOSE_SOURCE}}},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAcquisitionOptions();
        c.set();
        for (int id : c.expected.checked)
            EXPECT_TRUE(Checked(id)) << id;
        for (int id : c.expected.unchecked)
            EXPECT_FALSE(Checked(id)) << id;
        for (int id : c.expected.greyed)
            EXPECT_TRUE(Greyed(id)) << id;
        for (int id : c.expected.enabled)
            EXPECT_FALSE(Greyed(id)) << id;
    }
}

struct ToggleCase {
    const char* name;
    std::vector<int> commands;
    std::function<bool()> holds;  // the options afterwards
    Expected expected;
};

TEST_F(MainWindowTest, OptionCommandsSetTheirOptionsAndCheckMarks)
{
    const ToggleCase cases[] = {
        {"B&W twice gives the mask back", {CMD_PIXEL_BW, CMD_PIXEL_BW}, [] { return pixelTypeMask == 0; },
         {{CMD_PIXEL_ALL}, {CMD_PIXEL_BW}, {}, {}}},
        {"B&W and grayscale", {CMD_PIXEL_BW, CMD_PIXEL_GRAY}, [] { return pixelTypeMask == 3; },
         {{CMD_PIXEL_BW, CMD_PIXEL_GRAY}, {CMD_PIXEL_ALL}, {}, {}}},
        {"RGB and palette", {CMD_PIXEL_RGB, CMD_PIXEL_PALETTE}, [] { return pixelTypeMask == 12; },
         {{CMD_PIXEL_RGB, CMD_PIXEL_PALETTE}, {CMD_PIXEL_ALL}, {}, {}}},
        {"All PixelTypes clears every bit", {CMD_PIXEL_BW, CMD_PIXEL_RGB, CMD_PIXEL_ALL},
         [] { return pixelTypeMask == 0; }, {{CMD_PIXEL_ALL}, {CMD_PIXEL_BW, CMD_PIXEL_RGB}, {}, {}}},
        {"hide the source UI", {CMD_HIDE_UI}, [] { return hideSourceUI == 1; },
         {{CMD_HIDE_UI}, {CMD_SHOW_UI}, {}, {}}},
        {"show the source UI", {CMD_HIDE_UI, CMD_SHOW_UI}, [] { return hideSourceUI == 0; },
         {{CMD_SHOW_UI}, {CMD_HIDE_UI}, {}, {}}},
        {"autofeed while the feeder is disabled", {CMD_FEEDER_DISABLE, CMD_AUTOFEED},
         [] { return feederMode == 1 && autoFeed == 1; }, {{CMD_FEEDER_ENABLE, CMD_AUTOFEED}, {CMD_FEEDER_DISABLE}, {}, {}}},
        {"feeder disable turns autofeed off", {CMD_AUTOFEED, CMD_FEEDER_DISABLE},
         [] { return feederMode == -1 && autoFeed == 0; },
         {{CMD_FEEDER_DISABLE}, {CMD_FEEDER_ENABLE, CMD_AUTOFEED}, {}, {}}},
        {"feeder enable keeps autofeed", {CMD_AUTOFEED, CMD_FEEDER_ENABLE},
         [] { return feederMode == 1 && autoFeed == 1; }, {{CMD_FEEDER_ENABLE, CMD_AUTOFEED}, {}, {}, {}}},
        {"duplex toggles", {CMD_DUPLEX}, [] { return duplexEnabled == 1; }, {{CMD_DUPLEX}, {}, {}, {}}},
        {"duplex twice", {CMD_DUPLEX, CMD_DUPLEX}, [] { return duplexEnabled == 0; }, {{}, {CMD_DUPLEX}, {}, {}}},
        {"memory transfer", {CMD_XFER_MEMORY}, [] { return transferMode == kMemoryTransfer; },
         {{CMD_XFER_MEMORY}, {CMD_XFER_NATIVE}, {}, {}}},
        {"file then native transfer", {CMD_XFER_FILE, CMD_XFER_NATIVE}, [] { return transferMode == kNativeTransfer; },
         {{CMD_XFER_NATIVE}, {CMD_XFER_FILE}, {}, {}}},
        {"multi-transfer toggles in the library", {CMD_MULTI_TRANSFER}, [] { return TWAIN_GetMultiTransfer(); },
         {{CMD_MULTI_TRANSFER}, {}, {}, {}}},
        {"disable parent toggles in the library", {CMD_DISABLE_PARENT}, [] { return !TWAIN_GetDisableParent(); },
         {{}, {CMD_DISABLE_PARENT}, {}, {}}},
        // The library's own switch follows: handing it a new value answers the one before.
        {"suppress error dialogs", {CMD_SUPPRESS_ERRORS},
         [] { return suppressErrorDialogs == 1 && TWAIN_SuppressErrorBoxes(true); }, {{CMD_SUPPRESS_ERRORS}, {}, {}, {}}},
        {"suppress twice", {CMD_SUPPRESS_ERRORS, CMD_SUPPRESS_ERRORS},
         [] { return suppressErrorDialogs == 0 && !TWAIN_SuppressErrorBoxes(false); },
         {{}, {CMD_SUPPRESS_ERRORS}, {}, {}}},
    };
    for (const ToggleCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAcquisitionOptions();
        for (int command : c.commands)
            SendMessageA(mainWindow, WM_COMMAND, static_cast<WPARAM>(command), 0);
        EXPECT_TRUE(c.holds());
        for (int id : c.expected.checked)
            EXPECT_TRUE(Checked(id)) << id;
        for (int id : c.expected.unchecked)
            EXPECT_FALSE(Checked(id)) << id;
    }
}

class TwainMissingTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        // No Windows directory: no TWAIN_32.DLL to load.
        TWAIN_ResetSessionForTest();
        TWAIN_SetManagerDirectoryForTest("");
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        TWAIN_ResetSessionForTest();
    }
};

TEST_F(TwainMissingTest, AcquisitionItemsAreGreyed)
{
    ASSERT_FALSE(TWAIN_IsAvailable());
    // Greyed as the window is created, before the menu is first opened...
    for (int id : {CMD_ACQUIRE, CMD_ACQUIRE_CLIPBOARD, CMD_SELECT_SOURCE})
        EXPECT_TRUE(GetMenuState(menu_, id, MF_BYCOMMAND) & MF_GRAYED) << id;
    // ...and every time it opens; Close Source only while an acquisition runs.
    for (int id : kAcquisitionItems)
        EXPECT_TRUE(Greyed(id)) << id;
    EXPECT_TRUE(Greyed(CMD_CLOSE_SOURCE));
    acquireBusy = 1;
    EXPECT_FALSE(Greyed(CMD_CLOSE_SOURCE));
}

TEST_F(MainWindowTest, TwainAvailableLeavesTheAcquisitionItemsEnabledAtCreation)
{
    ASSERT_TRUE(TWAIN_IsAvailable());
    for (int id : {CMD_ACQUIRE, CMD_ACQUIRE_CLIPBOARD, CMD_SELECT_SOURCE})
        EXPECT_FALSE(GetMenuState(menu_, id, MF_BYCOMMAND) & MF_GRAYED) << id;
}
}  // namespace
