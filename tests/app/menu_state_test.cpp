// The menu-state rules, read in-process: Wine cannot read another process's menu.
#include "app/shell.h"
#include "app/view.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

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
    HMENU menu_ = nullptr;
};

TEST_F(MainWindowTest, SaveAsFileIsGreyedOnlyWithoutAnImage)
{
    ASSERT_EQ(currentDib, nullptr);
    EXPECT_TRUE(State(CMD_SAVE_AS_FILE) & MF_GRAYED);
    currentDib = GlobalAlloc(GMEM_MOVEABLE, 64);
    EXPECT_FALSE(State(CMD_SAVE_AS_FILE) & MF_GRAYED);
    GlobalFree(currentDib);
    currentDib = nullptr;
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
