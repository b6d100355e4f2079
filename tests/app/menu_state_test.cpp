// The menu-state rules, read in-process: Wine cannot read another process's menu.
#include "app/acquire.h"
#include "app/document.h"
#include "app/page.h"
#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib.h"
#include "resources/resource.h"
#include "twain/test_seam.h"
#include "imaging/test_page.h"
#include "support/box_watch.h"
#include "twain/twain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
        ResetRememberedOptions();
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
        straightenScannedPages = cropScannedPages = scannedPagesAs = skipBlankPages = 0;
        viewMode = kViewFitPage, zoomPercent = 100;
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

TEST_F(MainWindowTest, SaveAsFileAndThePageCommandsAreGreyedOnlyWithoutAnImage)
{
    ASSERT_EQ(currentDib, nullptr);
    for (int id : {CMD_SAVE_AS_FILE, CMD_TURN_CLOCKWISE, CMD_TURN_COUNTERCLOCKWISE, CMD_TURN_HALF, CMD_PAGE_GREY,
                   CMD_PAGE_BLACK_AND_WHITE, CMD_PAGE_STRAIGHTEN, CMD_PAGE_CROP}) {
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
    copyMemoryFailsAtForTest = 1;
    auto texts = boxes::BoxTextsShownBy([] { SendMessageA(mainWindow, WM_COMMAND, CMD_TURN_HALF, 0); });
    copyMemoryFailsAtForTest = 0;
    EXPECT_EQ(currentDib, before);
    EXPECT_EQ(texts, std::vector<std::string>{"There is not enough memory to turn the page. It is left as it was."});
    ReleaseCurrentImage();
}

HGLOBAL PageHandle(const testpage::Drawing& drawing)
{
    testpage::Page page = testpage::Make(drawing);
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, page.dib.size());
    std::memcpy(GlobalLock(dib), page.dib.data(), page.dib.size());
    GlobalUnlock(dib);
    return dib;
}

struct CleanUpCase {
    int command;
    testpage::Drawing page;
    bool memoryFails;
    const char* told;  // null: the page is replaced, and Undo gives it back
};

TEST_F(MainWindowTest, ACleanUpReplacesThePageForUndoOrSaysWhyItLeftIt)
{
    const testpage::Drawing text{400, 300, 2.0}, bordered{400, 300, 0, 20};
    const CleanUpCase cases[] = {
        {CMD_PAGE_GREY, text, false, nullptr},
        {CMD_PAGE_STRAIGHTEN, text, false, nullptr},
        {CMD_PAGE_CROP, bordered, false, nullptr},
        {CMD_PAGE_BLACK_AND_WHITE, text, true,
         "There is not enough memory to make the page black and white. It is left as it was."},
        {CMD_PAGE_STRAIGHTEN, {400, 300, 0, 0, testpage::Content::kBlank}, false,
         "No lines of text were found to straighten the page by. It is left as it was."},
        {CMD_PAGE_CROP, text, false, "No border was found around the paper. The page is left as it was."},
    };
    for (const CleanUpCase& c : cases) {
        SCOPED_TRACE(c.command);
        ShowImage(mainWindow, PageHandle(c.page));
        HGLOBAL before = currentDib;
        EXPECT_TRUE(Greyed(CMD_PAGE_UNDO));
        copyMemoryFailsAtForTest = c.memoryFails ? 1 : 0;
        auto texts = boxes::BoxTextsShownBy([&] { SendMessageA(mainWindow, WM_COMMAND, WPARAM(c.command), 0); });
        copyMemoryFailsAtForTest = 0;
        EXPECT_EQ(texts, c.told ? std::vector<std::string>{c.told} : std::vector<std::string>{});
        EXPECT_EQ(currentDib == before, c.told != nullptr);
        EXPECT_EQ(Greyed(CMD_PAGE_UNDO), c.told != nullptr);
        SendMessageA(mainWindow, WM_COMMAND, CMD_PAGE_UNDO, 0);
        EXPECT_EQ(currentDib, before);
        EXPECT_TRUE(Greyed(CMD_PAGE_UNDO));
    }
    ReleaseCurrentImage();
}

TEST_F(MainWindowTest, ScannedPagesAreStraightenedCroppedAndConvertedAsTheyArriveAndKeptForUndo)
{
    straightenScannedPages = cropScannedPages = 1;
    scannedPagesAs = kScannedAsBlackAndWhite;
    HGLOBAL scanned = PageHandle({600, 450, 3.0, 25});
    ShowScannedPage(mainWindow, scanned);
    EXPECT_EQ(undoDib, scanned);
    EXPECT_EQ(DibBitCount(currentDib), 1);
    EXPECT_LT(DibWidth(currentDib), 600 - 40) << "cropped";
    // Without memory for the first step the page is shown as it came; for a later one as the
    // steps before left it. Either way the operator is told what was kept.
    const std::pair<int, const char*> failures[] = {
        {1, "There is not enough memory to straighten the page. It is left as it was."},
        {2, "There is not enough memory to crop the page. The page is kept straightened, as the clean-ups before "
            "left it; Undo gives back the page as scanned."}};
    for (auto [at, told] : failures) {
        scanned = PageHandle({600, 450, 3.0, 25});
        copyMemoryFailsAtForTest = at;
        auto texts = boxes::BoxTextsShownBy([&] { ShowScannedPage(mainWindow, scanned); });
        copyMemoryFailsAtForTest = 0;
        EXPECT_EQ(currentDib == scanned, at == 1);
        EXPECT_EQ(undoDib, at == 1 ? nullptr : scanned);
        EXPECT_EQ(texts, std::vector<std::string>{told});
    }
    ReleaseCurrentImage();
}

// A document paged through, reordered and cut through the Page menu and its keys: after
// each step, the order a save would store (pages told apart by their width), the page
// shown, where the title says the person is, and what is greyed.
struct PagingStep {
    std::function<void()> act;
    std::vector<int> order;
    int shown;  // the width of the page shown
    std::vector<int> greyed;
};

TEST_F(MainWindowTest, ThePageMenuAndItsKeysPageThroughADocumentAndMoveAndDeleteThePageShown)
{
    auto command = [](int id) { return [id] { SendMessageA(mainWindow, WM_COMMAND, id, 0); }; };
    auto ctrlPageDown = [] {
        BYTE keys[256] = {};
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        SendMessageA(mainWindow, WM_KEYDOWN, VK_NEXT, 0);
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
    };
    const std::vector<int> atEnd = {CMD_NEXT_PAGE, CMD_LAST_PAGE, CMD_MOVE_PAGE_LATER},
                           atStart = {CMD_PREVIOUS_PAGE, CMD_FIRST_PAGE, CMD_MOVE_PAGE_EARLIER};
    const PagingStep steps[] = {
        {[] {}, {1, 2, 3, 4}, 4, atEnd},
        {command(CMD_FIRST_PAGE), {1, 2, 3, 4}, 1, atStart},
        {command(CMD_NEXT_PAGE), {1, 2, 3, 4}, 2, {}},
        {command(CMD_MOVE_PAGE_LATER), {1, 3, 2, 4}, 2, {}},
        {command(CMD_DELETE_PAGE), {1, 3, 4}, 4, atEnd},
        {command(CMD_MOVE_PAGE_EARLIER), {1, 4, 3}, 4, {}},
        {command(CMD_PREVIOUS_PAGE), {1, 4, 3}, 1, atStart},
        {ctrlPageDown, {1, 4, 3}, 4, {}},
        {[&] { command(CMD_DELETE_PAGE)(), command(CMD_DELETE_PAGE)(); }, {1}, 1, atEnd},
    };
    for (int width = 1; width <= 4; ++width) {
        HGLOBAL page = DibCreate(8, width, 1);
        AddDocumentPage(mainWindow, page, page);
    }
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        steps[i].act();
        std::vector<int> order;
        for (HGLOBAL page : documentPages)
            order.push_back(DibWidth(page));
        EXPECT_EQ(order, steps[i].order);
        ASSERT_TRUE(currentDib);
        EXPECT_EQ(DibWidth(currentDib), steps[i].shown);
        EXPECT_EQ(currentDib, documentPages[shownPage]);
        char title[128] = "";
        GetWindowTextA(mainWindow, title, sizeof title);
        const std::string where = order.size() > 1 ? " - Page " + std::to_string(shownPage + 1) + " of " +
                                                         std::to_string(order.size())
                                                   : "";
        EXPECT_EQ(std::string(title), "Pagorex - Page Capture" + where);
        for (int id : {CMD_NEXT_PAGE, CMD_PREVIOUS_PAGE, CMD_FIRST_PAGE, CMD_LAST_PAGE, CMD_MOVE_PAGE_EARLIER,
                       CMD_MOVE_PAGE_LATER})
            EXPECT_EQ(Greyed(id), order.size() == 1 || std::count(steps[i].greyed.begin(), steps[i].greyed.end(), id) > 0)
                << id;
    }
    SendMessageA(mainWindow, WM_COMMAND, CMD_DELETE_PAGE, 0);
    EXPECT_EQ(currentDib, nullptr);
    EXPECT_TRUE(Greyed(CMD_DELETE_PAGE));
}

// Zoom steps from the whole page to 400 % and back, each about the window's centre, and
// Ctrl with the wheel about the pointer: the image point under it stays under it.
TEST_F(MainWindowTest, ZoomGoesByStepsAndAboutThePointTheWheelTurnsAt)
{
    ShowImage(mainWindow, DibCreate(24, 2000, 1400));
    SetWindowPos(mainWindow, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    const ViewGeometry fit = CurrentViewGeometry(mainWindow);
    RECT client;
    GetClientRect(mainWindow, &client);
    EXPECT_NEAR(fit.scale, std::min(client.right / 2000.0, client.bottom / 1400.0), 1e-9);
    EXPECT_EQ(fit.left, (client.right - fit.width) / 2) << "centred";
    EXPECT_NEAR(double(fit.width) / fit.height, 2000.0 / 1400, 2.0 / fit.height) << "proportions kept";
    std::vector<int> steps;
    for (int i = 0; i < 12; ++i) {
        SendMessageA(mainWindow, WM_COMMAND, CMD_ZOOM_IN, 0);
        steps.push_back(zoomPercent);
    }
    EXPECT_EQ(steps, (std::vector<int>{33, 50, 67, 75, 100, 125, 150, 200, 300, 400, 400, 400}));
    SendMessageA(mainWindow, WM_COMMAND, CMD_ZOOM_OUT, 0);
    EXPECT_EQ(zoomPercent, 300);
    for (POINT at : {POINT{100, 80}, POINT{500, 300}}) {
        const ViewGeometry g = CurrentViewGeometry(mainWindow);
        const double x = (at.x + viewScrollX - g.left) / g.scale, y = (at.y + viewScrollY - g.top) / g.scale;
        POINT screen = at;
        ClientToScreen(mainWindow, &screen);
        SendMessageA(mainWindow, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, -WHEEL_DELTA), MAKELPARAM(screen.x, screen.y));
        const ViewGeometry after = CurrentViewGeometry(mainWindow);
        EXPECT_EQ(zoomPercent, at.x == 100 ? 200 : 150);
        EXPECT_NEAR((at.x + viewScrollX - after.left) / after.scale, x, 1.0 / after.scale + 1e-9);
        EXPECT_NEAR((at.y + viewScrollY - after.top) / after.scale, y, 1.0 / after.scale + 1e-9);
    }
    SendMessageA(mainWindow, WM_COMMAND, CMD_FIT_PAGE, 0);
    EXPECT_TRUE(Checked(CMD_FIT_PAGE));
    EXPECT_FALSE(Checked(CMD_ACTUAL_SIZE));
    EXPECT_EQ(CurrentViewGeometry(mainWindow).scale, fit.scale);
    ReleaseCurrentImage();
}

// The test program shares the Windows user's key with every program of the prefix: each
// test leaves it as it found it, absent.
TEST_F(MainWindowTest, RememberedOptionsComeBackAndDamagedOrMissingValuesGiveTheInitialOnes)
{
    for (int id : {CMD_XFER_MEMORY, CMD_FEEDER_DISABLE, CMD_PIXEL_GRAY, CMD_CROP_SCANNED, CMD_SCANNED_AS_GREY,
                   CMD_DISABLE_PARENT, CMD_FIT_WIDTH, CMD_SKIP_BLANK_PAGES})
        SendMessageA(mainWindow, WM_COMMAND, WPARAM(id), 0);
    ResetAcquisitionOptions();
    LoadRememberedOptions();
    EXPECT_EQ(viewMode, kViewFitWidth);
    EXPECT_EQ(skipBlankPages, 1);
    EXPECT_EQ(transferMode, kMemoryTransfer);
    EXPECT_EQ(feederMode, -1);
    EXPECT_EQ(pixelTypeMask, 2u);
    EXPECT_EQ(cropScannedPages, 1);
    EXPECT_EQ(scannedPagesAs, kScannedAsGrey);
    EXPECT_FALSE(TWAIN_GetDisableParent());
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Pagorex", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    // Another window of the user turns the feeder on; a change made here keeps it.
    const DWORD on = 1;
    RegSetValueExA(key, "FeederMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4);
    SendMessageA(mainWindow, WM_COMMAND, CMD_SCANNED_AS_BLACK_AND_WHITE, 0);
    LoadRememberedOptions();
    EXPECT_EQ(feederMode, 1);
    const DWORD outOfRange = 3;
    RegSetValueExA(key, "ScannedPagesAs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&outOfRange), 4);
    RegSetValueExA(key, "TransferMode", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 2);
    RegSetValueExA(key, "PixelTypes", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\4"), 1);
    RegDeleteValueA(key, "FeederMode");
    RegCloseKey(key);
    LoadRememberedOptions();
    EXPECT_EQ(scannedPagesAs, kScannedAsColour);
    EXPECT_EQ(transferMode, kNativeTransfer);
    EXPECT_EQ(pixelTypeMask, 0u);
    EXPECT_EQ(feederMode, 0);
    EXPECT_EQ(cropScannedPages, 1) << "an undamaged value";
    SendMessageA(mainWindow, WM_COMMAND, CMD_RESET_OPTIONS, 0);
    EXPECT_EQ(cropScannedPages, 0);
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Pagorex", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
}

// Wine has one scale for all displays: the move to another is told to the window here.
TEST_F(MainWindowTest, MovedToADisplayOfAnotherScaleTheWindowTakesTheSuggestedRectangle)
{
    RECT suggested = {40, 30, 790, 555}, now = {};
    SendMessageA(mainWindow, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(mainWindow, &now);
    EXPECT_TRUE(EqualRect(&now, &suggested)) << now.left << "," << now.top << " " << now.right << "," << now.bottom;
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
         {{CMD_PIXEL_ALL, CMD_SHOW_UI, CMD_DISABLE_PARENT, CMD_XFER_NATIVE, CMD_SCANNED_AS_COLOUR},
          {CMD_PIXEL_BW, CMD_PIXEL_GRAY, CMD_PIXEL_RGB, CMD_PIXEL_PALETTE, CMD_HIDE_UI, CMD_MULTI_TRANSFER, CMD_DUPLEX,
           CMD_FEEDER_DISABLE, CMD_FEEDER_ENABLE, CMD_AUTOFEED, CMD_XFER_MEMORY, CMD_XFER_FILE, CMD_SUPPRESS_ERRORS,
           CMD_STRAIGHTEN_SCANNED, CMD_CROP_SCANNED, CMD_SCANNED_AS_GREY, CMD_SCANNED_AS_BLACK_AND_WHITE},
          {CMD_CLOSE_SOURCE},
          acquisition}},
        {"acquisition under way", [] { acquireBusy = 1; }, {{}, {}, acquisition, {CMD_CLOSE_SOURCE}}},
        {"Reset Options",
         [] {
             for (int id : {CMD_PIXEL_BW, CMD_HIDE_UI, CMD_XFER_FILE, CMD_AUTOFEED, CMD_DUPLEX, CMD_MULTI_TRANSFER,
                            CMD_DISABLE_PARENT, CMD_SUPPRESS_ERRORS, CMD_STRAIGHTEN_SCANNED, CMD_CROP_SCANNED,
                            CMD_SCANNED_AS_GREY, CMD_RESET_OPTIONS})
                 SendMessageA(mainWindow, WM_COMMAND, WPARAM(id), 0);
         },
         {{CMD_PIXEL_ALL, CMD_SHOW_UI, CMD_DISABLE_PARENT, CMD_XFER_NATIVE, CMD_SCANNED_AS_COLOUR},
          {CMD_PIXEL_BW, CMD_HIDE_UI, CMD_MULTI_TRANSFER, CMD_DUPLEX, CMD_FEEDER_ENABLE, CMD_AUTOFEED, CMD_XFER_FILE,
           CMD_SUPPRESS_ERRORS, CMD_STRAIGHTEN_SCANNED, CMD_CROP_SCANNED, CMD_SCANNED_AS_GREY},
          {},
          acquisition}},
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
        {"straighten and crop scanned pages", {CMD_STRAIGHTEN_SCANNED, CMD_CROP_SCANNED},
         [] { return straightenScannedPages == 1 && cropScannedPages == 1; },
         {{CMD_STRAIGHTEN_SCANNED, CMD_CROP_SCANNED}, {}, {}, {}}},
        {"scanned pages as black and white", {CMD_SCANNED_AS_GREY, CMD_SCANNED_AS_BLACK_AND_WHITE},
         [] { return scannedPagesAs == kScannedAsBlackAndWhite; },
         {{CMD_SCANNED_AS_BLACK_AND_WHITE}, {CMD_SCANNED_AS_COLOUR, CMD_SCANNED_AS_GREY}, {}, {}}},
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
