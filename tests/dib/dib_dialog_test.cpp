// The Save As and Open dialogs, played by a robot thread.
#include <gtest/gtest.h>

#include <string>

#include "dialog_robot.h"
#include "dib/dib.h"
#include "dib/dib_file.h"
#include "dib_handles.h"

namespace {
constexpr int kFileNameCombo = 0x47C;  // cmb13, the file name box of the common dialogs
constexpr int kFileNameEdit = 0x480;   // edt1, its older form

void Cancel(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Types a name into the dialog and presses OK.
std::function<void(HWND)> Choose(std::string name)
{
    return [name](HWND dialog) {
        HWND box = GetDlgItem(dialog, kFileNameCombo);
        if (!box)
            box = GetDlgItem(dialog, kFileNameEdit);
        SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
}

TEST(DibDialogs, CancelledDialogs)
{
    HGLOBAL dib = DibCreate(1, 8, 8);
    {
        DialogRobot robot(Cancel);
        EXPECT_EQ(DibWriteFile(dib, nullptr), -1);
        EXPECT_TRUE(robot.Finish());
    }
    {
        DialogRobot robot(Cancel);
        EXPECT_EQ(DibWriteFile(dib, ""), -1);
        EXPECT_TRUE(robot.Finish());
    }
    {
        DialogRobot robot(Cancel);
        char name[kDibNameSize] = "left over";
        int format = 2;
        EXPECT_EQ(DibSaveDialog(name, &format), 0);
        EXPECT_STREQ(name, "");
        EXPECT_TRUE(robot.Finish());
    }
    {
        DialogRobot robot(Cancel);
        EXPECT_EQ(DibReadFile(nullptr), nullptr);
        EXPECT_TRUE(robot.Finish());
    }
    {
        DialogRobot robot(Cancel);
        EXPECT_EQ(DibReadFile(""), nullptr);
        EXPECT_TRUE(robot.Finish());
    }
    DibFree(dib);
}

TEST(DibDialogs, NamesChosenInTheDialogs)
{
    std::string dir = ScratchDir("dialogs");
    HGLOBAL dib = DibCreate(24, 5, 3);
    {
        // No extension typed: the file gets ".bmp".
        DialogRobot robot(Choose(dir + "picked"));
        EXPECT_EQ(DibWriteFile(dib, nullptr), 0);
        EXPECT_TRUE(robot.Finish());
    }
    EXPECT_EQ(ReadWholeFile(dir + "picked.bmp").size(), 102u);
    {
        DialogRobot robot(Choose(dir + "other.bmp"));
        char name[kDibNameSize];
        int format = 0;
        EXPECT_EQ(DibSaveDialog(name, &format), 1);
        EXPECT_TRUE(robot.Finish());
        EXPECT_EQ(std::string(name), dir + "other.bmp");
        EXPECT_EQ(format, 2);
    }
    {
        DialogRobot robot(Choose(dir + "picked.bmp"));
        HGLOBAL back = DibReadFile(nullptr);
        EXPECT_TRUE(robot.Finish());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(BytesOf(back), BytesOf(dib));
        DibFree(back);
    }
    DibFree(dib);
}
}  // namespace
