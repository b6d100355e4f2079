// The menu as compiled into the program: hosts and users rely on every text and
// identifier, in this order.
#include "resources/resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct Item {
    std::string text;  // "" for a separator
    int id;            // -1 for a submenu
    std::vector<Item> children;
};

const std::vector<Item> kFile = {
    {"&Select Source...", 103, {}}, {"&Acquire...", 100, {}}, {"Acquire To &Clipboard...", 101, {}},
    {"Acquire Multi-Page...", 133, {}}, {"&Close Source", 131, {}}, {"", 0, {}},
    {"&Open file", 114, {}}, {"&Save as file", 106, {}}, {"", 0, {}},
    {"&Clear Image", 116, {}}, {"", 0, {}}, {"Save &Image", 115, {}}, {"", 0, {}},
    {"E&xit/Save", 104, {}}, {"Exit/A&bort", 117, {}},
};
const std::vector<Item> kView = {
    {"Fit &Page\tCtrl+0", 170, {}}, {"Fit &Width", 171, {}}, {"&Actual Size", 172, {}}, {"", 0, {}},
    {"Zoom &In\tCtrl++", 173, {}}, {"Zoom &Out\tCtrl+-", 174, {}},
};

const std::vector<Item> kOptions = {
    {"&All PixelTypes", 111, {}}, {"&B&&W", 107, {}}, {"&Grayscale", 108, {}}, {"&RGB Color", 109, {}},
    {"&Palette Color", 110, {}}, {"", 0, {}}, {"&Show Source UI", 112, {}}, {"&Hide Source UI", 113, {}},
    {"", 0, {}}, {"S&tretch Image to screen", 118, {}}, {"&View", -1, kView},
    {"Transfer Mode", -1, {{"&Memory (Buffered)", 127, {}}, {"&Native (DIB)", 128, {}}, {"&File", 129, {}}}},
    {"", 0, {}},
    {"Advanced", -1,
     {{"&Disable Parent", 130, {}}, {"&Multi-Transfer Mode", 121, {}}, {"&Duplex Scanning", 125, {}},
      {"&Suppress Error Dialogs", 132, {}}}},
    {"&Feeder", -1, {{"&Disable", 123, {}}, {"&Enable", 124, {}}, {"&AutoFeed", 122, {}}}},
    {"", 0, {}}, {"Straighten Scanned Pages", 150, {}}, {"Crop Scanned Pages", 151, {}},
    {"Scanned Pages As", -1, {{"Colour as scanned", 152, {}}, {"Grey", 153, {}}, {"Black and White", 154, {}}}},
    {"Skip Blank Pages", 156, {}}, {"", 0, {}}, {"Reset Options", 155, {}},
};
const std::vector<Item> kPage = {
    {"Rotate 90\xB0 &Clockwise", 140, {}}, {"Rotate 90\xB0 C&ounter-clockwise", 141, {}}, {"Rotate &180\xB0", 142, {}},
    {"", 0, {}}, {"&Grey", 143, {}}, {"Black and &White", 144, {}}, {"", 0, {}}, {"&Straighten", 145, {}},
    {"Crop to &Page", 146, {}}, {"", 0, {}}, {"&Undo", 147, {}}, {"", 0, {}},
    {"&Next Page\tCtrl+PgDn", 160, {}}, {"P&revious Page\tCtrl+PgUp", 161, {}}, {"&First Page\tCtrl+Home", 162, {}},
    {"&Last Page\tCtrl+End", 163, {}}, {"", 0, {}}, {"&Delete Page\tCtrl+Del", 164, {}},
    {"Move Page &Earlier\tCtrl+Shift+PgUp", 165, {}}, {"Move Page La&ter\tCtrl+Shift+PgDn", 166, {}},
};

void ExpectMenu(HMENU menu, const std::vector<Item>& expected, const std::string& path)
{
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(expected.size())) << path;
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        const Item& want = expected[i];
        char text[128] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, i, TRUE, &info));
        SCOPED_TRACE(path + " item " + std::to_string(i) + " " + want.text);
        if (want.text.empty()) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR);
            continue;
        }
        EXPECT_EQ(std::string(text), want.text);
        if (want.id == -1) {
            ASSERT_TRUE(info.hSubMenu);
            ExpectMenu(info.hSubMenu, want.children, path + "/" + want.text);
        } else {
            EXPECT_EQ(static_cast<int>(info.wID), want.id);
            EXPECT_FALSE(info.hSubMenu);
        }
    }
}

TEST(Resources, MenuHasEveryMenuWithEveryItemInOrder)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "TW_App_Menu");
    ASSERT_TRUE(menu);
    ExpectMenu(menu, {{"&File", -1, kFile}, {"&Options", -1, kOptions}, {"&Page", -1, kPage}}, "bar");
    DestroyMenu(menu);
}

TEST(Resources, StringsIconAndAboutDialog)
{
    HINSTANCE self = GetModuleHandleA(nullptr);
    const std::pair<int, const char*> strings[] = {
        {IDS_APPNAME, "PAGOREX"},
        {IDS_NO_CLIPBOARD_IMAGE, "No image was acquired or transfer to the clipboard failed."},
        {IDS_VERSION_FORMAT, "acquira.dll reports version %d.%02d"},
        {IDS_TWAIN_AVAILABLE, "TWAIN Services: Available."},
        {IDS_TWAIN_NOT_AVAILABLE, "TWAIN Services: Not Available."},
        {IDS_WRITE_ERROR, "Error writing DIB to file - is there room for the image?"},
    };
    for (auto [id, text] : strings) {
        char loaded[256] = "";
        LoadStringA(self, id, loaded, sizeof loaded);
        EXPECT_STREQ(loaded, text) << id;
    }
    char banner[64] = "";
    EXPECT_GT(LoadStringA(self, IDS_TITLE, banner, sizeof banner), 0);
    EXPECT_TRUE(LoadIconA(self, "TW_APP_ICO"));
    HRSRC dialog = FindResourceA(self, "TW_APP_ABOUTBOX", MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    EXPECT_TRUE(dialog);
}
}  // namespace
