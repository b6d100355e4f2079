// The acquisition operations in-process: the file of a file transfer through its real
// dialog, and the options applied to a source through Wine's Source Manager and the
// virtual scanner.
#include "app/acquire.h"
#include "app/shell.h"
#include "dib/dialog_robot.h"
#include "resources/resource.h"
#include "support/box_watch.h"
#include "twain/capability.h"
#include "twain/wine/wine_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
constexpr int kFilterCombo = 0x470;  // cmb1, the file-type list of the common dialog
constexpr int kNameCombo = 0x47C;    // cmb13, the file name

TEST(FileTypeExtension, TenTypesThenHuh)
{
    const char* expected[] = {".tif", ".pic", ".bmp", ".xbm", ".jpg", ".fpx", ".mpt", ".png", ".spi", ".exi"};
    for (int i = 0; i < 10; ++i)
        EXPECT_STREQ(FileTypeExtension(i), expected[i]) << i;
    for (int i : {-1, 10, 11, 1000})
        EXPECT_STREQ(FileTypeExtension(i), ".huh") << i;
    // Each filter's pattern is its extension.
    for (const FileType& type : FileTypes())
        EXPECT_EQ(std::string("*") + type.extension, type.pattern);
}

struct DialogSeen {
    std::vector<std::string> filters;
    int selected = -1;
};

// Reads the dialog's filter list, picks filter (-1 keeps the one selected), types name
// and saves; an empty name cancels.
void AnswerTransferDialog(HWND dialog, DialogSeen& seen, int filter, const std::string& name)
{
    HWND combo = GetDlgItem(dialog, kFilterCombo);
    seen.filters.clear();
    int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[128] = "";
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        seen.filters.push_back(text);
    }
    seen.selected = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    if (name.empty()) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    if (filter >= 0) {
        // As a user's pick: the selection, then the notifications a mouse choice sends.
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(filter), 0);
        for (WORD notification : {CBN_SELCHANGE, CBN_SELENDOK})
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFilterCombo, notification), reinterpret_cast<LPARAM>(combo));
    }
    HWND box = GetDlgItem(dialog, kNameCombo);
    if (HWND edit = box ? FindWindowExA(box, nullptr, "Edit", nullptr) : nullptr)
        box = edit;
    else if (!box)
        box = GetDlgItem(dialog, 0x480);
    SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

struct ChooseCase {
    const char* name;
    int typeBefore;
    int filterPicked;  // -1: the one preselected
    const char* typed;  // "" cancels
    int result;
    int typeAfter;
    const char* nameEnds;  // the name answered ends so
};

TEST(ChooseTransferFile, OffersTheTenTypesAndCompletesTheName)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "pgx-transfer-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    const ChooseCase cases[] = {
        {"bitmap, no extension typed", TWFF_BMP, -1, "scan", 1, TWFF_BMP, "\\scan.bmp"},
        {"TIFF chosen in the dialog", TWFF_BMP, TWFF_TIFF, "page", 1, TWFF_TIFF, "\\page.tif"},
        {"PNG preselected", TWFF_PNG, -1, "shot", 1, TWFF_PNG, "\\shot.png"},
        {"an extension typed is kept", TWFF_BMP, -1, "kept.dat", 1, TWFF_BMP, "\\kept.dat"},
        {"cancelled", TWFF_JFIF, -1, "", 0, TWFF_JFIF, ""},
    };
    std::vector<std::string> descriptions;
    for (const FileType& type : FileTypes())
        descriptions.push_back(type.description);
    ASSERT_EQ(descriptions.size(), 10u);
    for (const ChooseCase& c : cases) {
        SCOPED_TRACE(c.name);
        char name[kTransferNameSize] = "left over";
        int type = c.typeBefore;
        DialogSeen seen;
        const std::string typed = c.typed[0] ? dir + "\\" + c.typed : "";
        DialogRobot robot([&](HWND dialog) { AnswerTransferDialog(dialog, seen, c.filterPicked, typed); });
        EXPECT_EQ(ChooseTransferFile(name, type), c.result);
        EXPECT_TRUE(robot.Finish());
        EXPECT_EQ(seen.filters, descriptions);
        EXPECT_EQ(seen.selected, c.typeBefore) << "the dialog opens on the type chosen last";
        EXPECT_EQ(type, c.typeAfter);
        std::string answered = name;
        if (c.nameEnds[0] == '\0') {
            EXPECT_EQ(answered, "");
        } else {
            ASSERT_GE(answered.size(), std::string(c.nameEnds).size());
            EXPECT_EQ(answered.substr(answered.size() - std::string(c.nameEnds).size()), c.nameEnds) << answered;
        }
    }
    RemoveDirectoryA(dir.c_str());
}

// The options applied to the virtual scanner, read back from its log.
class PrepareSourceTest : public twtest::WineSession {
protected:
    void SetUp() override
    {
        WineSession::SetUp();
        appInstance = GetModuleHandleA(nullptr);
        LoadStringA(appInstance, IDS_APPNAME, appName, sizeof appName);
        duplexEnabled = 0;
        feederMode = 0;
        autoFeed = 0;
        pixelTypeMask = 0;
    }
    void TearDown() override
    {
        duplexEnabled = 0;
        feederMode = 0;
        autoFeed = 0;
        pixelTypeMask = 0;
        WineSession::TearDown();
    }
    // The MSG_SET lines the scanner logged for capability name.
    std::vector<std::string> SetsOf(const std::string& name)
    {
        std::vector<std::string> sets;
        for (const std::string& line : Log())
            if (line.find("/MSG_SET ") != std::string::npos && line.find("| " + name + " ") != std::string::npos)
                sets.push_back(line.substr(line.find(name)));
        return sets;
    }
};

struct PrepareCase {
    const char* name;
    const char* profile;
    int duplex, feeder, autoFeed;
    unsigned mask;
    std::vector<std::string> boxes;
    int feederAfter;
    const char* capability;            // whose sets the case looks at
    std::vector<std::string> received;  // "received ..." part of each set, in order
};

TEST_F(PrepareSourceTest, AppliesDuplexFeederAndPixelTypes)
{
    const std::string kNoDuplex = "Duplex: Device reports no duplex support.";
    const std::string kNoFeeder = "This source indicates it has no document feeder.";
    const PrepareCase cases[] = {
        {"duplex asked of a simplex scanner", "", 1, 0, 0, 0, {kNoDuplex}, 0, "CAP_DUPLEXENABLED", {}},
        {"duplex scanner, duplex asked", "duplex = 1pass\n", 1, 0, 0, 0, {}, 0, "CAP_DUPLEXENABLED",
         {"received ONEVALUE BOOL items=1"}},
        {"duplex scanner, simplex asked", "duplex = 2pass\nduplex_enabled = yes\n", 0, 0, 0, 0, {}, 0,
         "CAP_DUPLEXENABLED", {"received ONEVALUE BOOL items=0"}},
        {"feeder asked of a flatbed", "", 0, 1, 1, 0, {kNoFeeder}, 0, "CAP_AUTOFEED", {}},
        {"feeder and autofeed", "feeder = yes\n", 0, 1, 1, 0, {}, 1, "CAP_AUTOFEED",
         {"received ONEVALUE BOOL items=1"}},
        {"feeder switched off", "feeder = yes\nfeeder_enabled = yes\n", 0, -1, 0, 0, {}, -1, "CAP_FEEDERENABLED",
         {"received ONEVALUE BOOL items=0"}},
        {"feeder left alone", "feeder = yes\n", 0, 0, 1, 0, {}, 0, "CAP_FEEDERENABLED", {}},
        {"B&W and grayscale", "", 0, 0, 0, 3, {}, 0, "ICAP_PIXELTYPE",
         {"received ENUMERATION UINT16 items=0,1"}},
        {"no pixel-type restriction", "", 0, 0, 0, 0, {}, 0, "ICAP_PIXELTYPE", {}},
    };
    for (const PrepareCase& c : cases) {
        SCOPED_TRACE(c.name);
        UseProfile(c.profile);
        DeleteFileA(logPath.c_str());
        duplexEnabled = c.duplex;
        feederMode = c.feeder;
        autoFeed = c.autoFeed;
        pixelTypeMask = c.mask;
        ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
        std::vector<boxes::SeenBox> seen = boxes::BoxesShownBy([] { EXPECT_EQ(PrepareSource(nullptr), 1); });
        std::vector<std::string> texts;
        for (const boxes::SeenBox& box : seen) {
            texts.push_back(box.text);
            EXPECT_EQ(box.caption, "PAGOREX");
        }
        EXPECT_EQ(texts, c.boxes);
        EXPECT_EQ(feederMode, c.feederAfter);
        std::vector<std::string> sets = SetsOf(c.capability);
        ASSERT_EQ(sets.size(), c.received.size());
        for (std::size_t i = 0; i < sets.size(); ++i)
            EXPECT_NE(sets[i].find(c.received[i]), std::string::npos) << sets[i];
        EXPECT_TRUE(TWAIN_CloseSource());
    }
}

// "Disable the source first": every option but Disable Parent and Suppress Error Dialogs
// takes an enabled source back to open, so the option applies at the next opening.
TEST_F(PrepareSourceTest, OptionCommandsDisableAnEnabledSourceFirst)
{
    // Enabled without its dialog and without scanning while the test looks.
    UseProfile("scan_delay = 600000\n");
    TWAIN_SetHideUI(true);
    const std::pair<int, int> cases[] = {
        {CMD_PIXEL_BW, TWAIN_SOURCE_OPEN},       {CMD_PIXEL_GRAY, TWAIN_SOURCE_OPEN},
        {CMD_PIXEL_RGB, TWAIN_SOURCE_OPEN},      {CMD_PIXEL_PALETTE, TWAIN_SOURCE_OPEN},
        {CMD_PIXEL_ALL, TWAIN_SOURCE_OPEN},      {CMD_SHOW_UI, TWAIN_SOURCE_OPEN},
        {CMD_HIDE_UI, TWAIN_SOURCE_OPEN},        {CMD_MULTI_TRANSFER, TWAIN_SOURCE_OPEN},
        {CMD_AUTOFEED, TWAIN_SOURCE_OPEN},       {CMD_FEEDER_DISABLE, TWAIN_SOURCE_OPEN},
        {CMD_FEEDER_ENABLE, TWAIN_SOURCE_OPEN},  {CMD_DUPLEX, TWAIN_SOURCE_OPEN},
        {CMD_XFER_MEMORY, TWAIN_SOURCE_OPEN},    {CMD_XFER_NATIVE, TWAIN_SOURCE_OPEN},
        {CMD_XFER_FILE, TWAIN_SOURCE_OPEN},      {CMD_DISABLE_PARENT, TWAIN_SOURCE_ENABLED},
        {CMD_SUPPRESS_ERRORS, TWAIN_SOURCE_ENABLED},
    };
    for (auto [command, state] : cases) {
        SCOPED_TRACE(command);
        if (TWAIN_GetState() < TWAIN_SOURCE_ENABLED) {
            ASSERT_TRUE(TWAIN_EnableSource(nullptr));
        }
        ASSERT_TRUE(RunCommand(nullptr, command));
        EXPECT_EQ(TWAIN_GetState(), state);
    }
    EXPECT_TRUE(TWAIN_CloseSource());
    // Put back what the commands toggled.
    pixelTypeMask = 0;
    hideSourceUI = 0;
    transferMode = kNativeTransfer;
    duplexEnabled = 0;
    suppressErrorDialogs = 0;
    TWAIN_SuppressErrorBoxes(false);
    TWAIN_SetMultiTransfer(false);
    TWAIN_SetDisableParent(true);
}
}  // namespace
