// The record's image through the real program: shown, saved, opened and written.
#include "e2e.h"
#include "support/store_files.h"

#include <windows.h>

namespace {
using storefiles::Bytes;

uint32_t Pattern(int x, int y)
{
    // Distinct colours in blocks, so a shifted or flipped image cannot pass.
    return RGB((x / 8) * 20 % 256, (y / 8) * 30 % 256, ((x + y) / 8) * 15 % 256);
}
// A different colour at every pixel of an A4 page at 300 dpi.
uint32_t Unique(int x, int y)
{
    return RGB(x % 256, y % 256, x / 256 * 16 + y / 256);
}
uint32_t Red(int, int) { return RGB(255, 0, 0); }
uint32_t Green(int, int) { return RGB(0, 255, 0); }

class ImageTest : public ProgramTest {
protected:
    void WriteStore(const std::vector<std::pair<int, Bytes>>& images, bool compressed = true)
    {
        Bytes index, data;
        for (const auto& [record, image] : images)
            storefiles::AddRecord(index, data, record, image, compressed);
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.idx"), index));
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.dat"), data));
    }
    std::vector<storefiles::Record> Index() { return storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx"))); }
    Bytes Data() { return driver::ReadFileBytes(Path("pagorex.dat")); }

    // Compares a block of the client area (at its top-left unless given) with the image from
    // (imageX, imageY), pixel by pixel, for a while: the window may still be painting.
    void ExpectShows(const Bytes& image, int width, int height, int imageX = 0, int imageY = 0, POINT at = {},
                     decltype(&driver::Pixels) read = driver::Pixels)
    {
        int wrong = 0;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(50)) {
            std::vector<COLORREF> pixels = read(program_.window, width, height, at.x, at.y);
            wrong = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    wrong += pixels[y * width + x] != storefiles::BitmapPixel(image, imageX + x, imageY + y);
            if (wrong == 0)
                break;
        }
        EXPECT_EQ(wrong, 0) << "pixels differ from the image";
    }
    int SampleTitleWidth()
    {
        HDC dc = GetDC(program_.window);
        DWORD extent = GetTabbedTextExtentA(dc, "Scrib Sample Title", 18, 0, nullptr);
        ReleaseDC(program_.window, dc);
        return LOWORD(extent);
    }
    void SaveImage()
    {
        ASSERT_TRUE(driver::Command(program_.window, 115, 60000));
    }
    void OpenFileThroughDialog(const std::string& name)
    {
        driver::PendingCommand open(program_.window, 114);
        driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
        ASSERT_TRUE(dialog.window) << "no Open dialog";
        ASSERT_TRUE(driver::AnswerFileDialog(dialog.window, name));
        ASSERT_TRUE(open.Wait(20000));
    }
};

TEST_F(ImageTest, StoredImageIsShownAtActualSizeWithTheWindowSizedToIt)
{
    Bytes image = storefiles::Bitmap24(320, 120, Pattern);
    WriteStore({{5, storefiles::Bitmap24(10, 10, Red)}, {7, image}});
    StartFor(7);
    SIZE client = driver::ClientSize(program_.window);
    EXPECT_EQ(client.cy, 120);
    EXPECT_EQ(client.cx, std::max(320, SampleTitleWidth()));
    // As the screen shows it, at any display scale: never stretched by the system.
    ExpectShows(image, 320, 120, 0, 0, {}, driver::ScreenPixels);
    CloseAndExpectExit();
}

TEST_F(ImageTest, NarrowImageKeepsTheWindowAsWideAsTheSampleTitle)
{
    WriteStore({{2, storefiles::Bitmap24(20, 50, Green)}});
    StartFor(2);
    // Also under a menu bar that wraps (a scaled display); no window is narrower than allowed.
    SIZE client = driver::ClientSize(program_.window);
    EXPECT_EQ(client.cy, 50);
    RECT frame = {};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, TRUE);
    int narrowest = GetSystemMetrics(SM_CXMINTRACK) - (frame.right - frame.left);
    EXPECT_EQ(client.cx, std::max({20, SampleTitleWidth(), narrowest}));
    EXPECT_EQ(driver::WaitForPixel(program_.window, 5, 5, RGB(0, 255, 0)), RGB(0, 255, 0));
    CloseAndExpectExit();
}

TEST_F(ImageTest, StretchedImageFillsTheClientArea)
{
    Bytes image = storefiles::Bitmap24(16, 16, [](int x, int y) -> uint32_t {
        return x < 8 ? (y < 8 ? RGB(255, 0, 0) : RGB(0, 0, 255)) : (y < 8 ? RGB(0, 255, 0) : RGB(255, 255, 0));
    });
    WriteStore({{3, image}});
    ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.cfg"), {1}));
    StartFor(3);
    SIZE client = driver::ClientSize(program_.window);
    ASSERT_GT(client.cx, 16);
    EXPECT_EQ(driver::WaitForPixel(program_.window, 2, 2, RGB(255, 0, 0)), RGB(255, 0, 0));
    EXPECT_EQ(driver::WaitForPixel(program_.window, client.cx - 3, 2, RGB(0, 255, 0)), RGB(0, 255, 0));
    EXPECT_EQ(driver::WaitForPixel(program_.window, 2, client.cy - 3, RGB(0, 0, 255)), RGB(0, 0, 255));
    EXPECT_EQ(driver::WaitForPixel(program_.window, client.cx - 3, client.cy - 3, RGB(255, 255, 0)), RGB(255, 255, 0));
    CloseAndExpectExit();
}

TEST_F(ImageTest, LargePageScrollsToItsBottomRightCornerPixelForPixel)
{
    const int width = 2480, height = 3508;
    Bytes page = storefiles::Bitmap24(width, height, Unique);
    WriteStore({{1, page}});
    StartFor(1);
    SIZE client = driver::ClientSize(program_.window);
    ASSERT_TRUE(client.cx < width && client.cy < height) << "the page fits the window";
    ExpectShows(page, 32, 32);  // a new image starts at its top-left corner
    PostMessageA(program_.window, WM_KEYDOWN, VK_END, 0);
    // The view's corners: the page's own bottom-right one, and the offset at the top-left.
    ExpectShows(page, 32, 32, width - 32, height - 32, POINT{client.cx - 32, client.cy - 32});
    ExpectShows(page, 32, 32, width - client.cx, height - client.cy);
    // Line steps move what is shown and draw the strips they uncover, 40 pixels a step.
    for (WPARAM key : {VK_UP, VK_UP, VK_UP, VK_LEFT, VK_LEFT})
        PostMessageA(program_.window, WM_KEYDOWN, key, 0);
    ExpectShows(page, 100, 140, width - client.cx - 80, height - client.cy - 120);
    ExpectShows(page, 32, 32, width - 112, height - 152, POINT{client.cx - 32, client.cy - 32});
    CloseAndExpectExit();
}

TEST_F(ImageTest, TurnedPagesAreStoredAsTheirTurnsAndFourTurnsStoreTheOriginal)
{
    // Rows padded differently once turned: 37 x 3 bytes fill 112, 23 x 3 fill 72.
    Bytes original = storefiles::Bitmap24(37, 23, Pattern), from = original;
    WriteStore({{9, original}});
    StartFor(9);
    auto side = [](const Bytes& file, int at) { return int(file[at] | file[at + 1] << 8); };
    const int kClockwise = 140, kCounterClockwise = 141, kHalf = 142;
    int step = 0;
    for (int command : {kClockwise, kClockwise, kClockwise, kClockwise, kCounterClockwise, kHalf}) {
        SCOPED_TRACE("turn " + std::to_string(++step));
        ASSERT_TRUE(driver::Command(program_.window, command));
        SaveImage();
        Bytes stored = storefiles::ImageOf(Index().back(), Data());
        int w = side(from, 18), h = side(from, 22);
        bool quarter = command != kHalf;
        ASSERT_EQ(side(stored, 18), quarter ? h : w);
        ASSERT_EQ(side(stored, 22), quarter ? w : h);
        int wrong = 0;
        for (int y = 0; y < side(stored, 22); ++y)
            for (int x = 0; x < side(stored, 18); ++x) {
                int sx = command == kClockwise ? y : command == kCounterClockwise ? w - 1 - y : w - 1 - x;
                int sy = command == kClockwise ? h - 1 - x : command == kCounterClockwise ? x : h - 1 - y;
                wrong += storefiles::BitmapPixel(stored, x, y) != storefiles::BitmapPixel(from, sx, sy);
            }
        EXPECT_EQ(wrong, 0);
        if (step == 4) {
            EXPECT_EQ(stored, original) << "four quarter turns store the original bytes";
        }
        from = stored;
    }
    CloseAndExpectExit();
}

TEST_F(ImageTest, DeletedOrDamagedRecordsShowNoImage)
{
    Bytes image = storefiles::Bitmap24(40, 40, Red);
    WriteStore({{1, image}, {2, image}});
    Bytes index = driver::ReadFileBytes(Path("pagorex.idx"));
    index[0] = 1;  // record 1 deleted
    driver::WriteFileBytes(Path("pagorex.idx"), index);
    Bytes data = Data();
    data.resize(data.size() - 20);  // record 2's blob cut short
    driver::WriteFileBytes(Path("pagorex.dat"), data);
    for (int record : {1, 2, 9}) {
        SCOPED_TRACE(record);
        StartFor(record);
        EXPECT_EQ(driver::SettledPixel(program_.window, 10, 10), RGB(0, 0, 0));
        CloseAndExpectExit();
        driver::Release(program_);
    }
}

TEST_F(ImageTest, PlainRecordOfAnEarlierWriterLoads)
{
    Bytes image = storefiles::Bitmap24(30, 20, Pattern);
    // A compressed first record keeps the start-up compaction away.
    Bytes index, data;
    storefiles::AddRecord(index, data, 1, storefiles::Bitmap24(4, 4, Red), true);
    storefiles::AddRecord(index, data, 6, image, false);
    driver::WriteFileBytes(Path("pagorex.idx"), index);
    driver::WriteFileBytes(Path("pagorex.dat"), data);
    StartFor(6);
    ExpectShows(image, 30, 20);
    CloseAndExpectExit();
}

TEST_F(ImageTest, OpenFileThenSaveImageCreatesTheStoreAndTheNextRunShowsIt)
{
    Bytes image = storefiles::Bitmap24(64, 48, Pattern);
    driver::WriteFileBytes(Path("scan.bmp"), image);
    StartFor(11);
    OpenFileThroughDialog(Path("scan.bmp"));
    ExpectShows(image, 64, 48);
    SaveImage();
    CloseAndExpectExit();
    driver::Release(program_);

    auto records = Index();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].recordNumber, 11);
    EXPECT_EQ(records[0].dataOffset, 0u);
    EXPECT_EQ(records[0].compressed, 1);
    EXPECT_EQ(records[0].deleted, 0);
    Bytes data = Data();
    EXPECT_EQ(records[0].storedLength, data.size());
    ASSERT_GE(data.size(), 2u);
    EXPECT_EQ(data[0], 0x1f);  // one gzip member
    EXPECT_EQ(data[1], 0x8b);
    EXPECT_EQ(storefiles::ImageOf(records[0], data), image);
    EXPECT_FALSE(driver::FileExists(Path("pagorex.2")));

    StartFor(11);
    ExpectShows(image, 64, 48);
    // A second save appends a second blob and rewrites the same record.
    SaveImage();
    CloseAndExpectExit();
    records = Index();
    ASSERT_EQ(records.size(), 1u);
    Bytes after = Data();
    EXPECT_EQ(records[0].dataOffset, data.size());
    EXPECT_EQ(after.size(), data.size() + records[0].storedLength);
    EXPECT_EQ(storefiles::ImageOf(records[0], after), image);
}

TEST_F(ImageTest, SaveWithoutImageMarksDeletedAndSavingAgainReusesTheRecord)
{
    Bytes image = storefiles::Bitmap24(24, 24, Green);
    WriteStore({{4, image}});
    driver::WriteFileBytes(Path("other.bmp"), storefiles::Bitmap24(24, 24, Red));
    StartFor(4);
    OpenFileThroughDialog("");  // cancelled: the page stays
    EXPECT_EQ(driver::SettledPixel(program_.window, 5, 5), RGB(0, 255, 0));
    // Clear Image asks, and releases the page: the window black.
    driver::PostCommand(program_.window, 116);
    driver::MessageBoxInfo question = driver::WaitForMessageBox(program_);
    ASSERT_TRUE(question.window);
    EXPECT_EQ(question.text.rfind("Clear the page from the window?", 0), 0u) << question.text;
    driver::PressButton(question.window, IDYES);
    for (int i = 0; i < 250 && IsWindow(question.window); ++i)
        Sleep(20);
    EXPECT_EQ(driver::SettledPixel(program_.window, 5, 5), RGB(0, 0, 0));
    SaveImage();
    CloseAndExpectExit();
    driver::Release(program_);
    auto records = Index();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].deleted, 1);
    EXPECT_EQ(storefiles::ImageOf(records[0], Data()), image) << "the blob stays";

    StartFor(4);
    EXPECT_EQ(driver::SettledPixel(program_.window, 5, 5), RGB(0, 0, 0));
    OpenFileThroughDialog(Path("other.bmp"));
    SaveImage();
    CloseAndExpectExit();
    records = Index();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].deleted, 0);
    EXPECT_EQ(storefiles::ImageOf(records[0], Data()), storefiles::Bitmap24(24, 24, Red));
}

TEST_F(ImageTest, ExitSaveStoresThenEnds)
{
    Bytes image = storefiles::Bitmap24(32, 16, Pattern);
    driver::WriteFileBytes(Path("in.bmp"), image);
    StartFor(8);
    OpenFileThroughDialog(Path("in.bmp"));
    driver::PostCommand(program_.window, 104);
    EXPECT_EQ(driver::WaitForExit(program_, 30000), 0);
    auto records = Index();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(storefiles::ImageOf(records[0], Data()), image);
}

TEST_F(ImageTest, SaveAsFileWritesTheImageAndReportsAFileThatCannotBeWritten)
{
    Bytes image = storefiles::Bitmap24(20, 10, Pattern);
    WriteStore({{1, image}});
    StartFor(1);
    {
        driver::PendingCommand save(program_.window, 106);
        driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
        ASSERT_TRUE(dialog.window);
        ASSERT_TRUE(driver::AnswerFileDialog(dialog.window, Path("copy")));
        ASSERT_TRUE(save.Wait(20000));
    }
    EXPECT_EQ(driver::ReadFileBytes(Path("copy.bmp")), image);

    // A file held open without sharing by another program cannot be created.
    HANDLE held = CreateFileA(Path("held.bmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    {
        driver::PendingCommand save(program_.window, 106);
        driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
        ASSERT_TRUE(dialog.window);
        ASSERT_TRUE(driver::AnswerFileDialog(dialog.window, Path("held.bmp")));
        // The dialog asks whether to replace the existing file; then the write fails.
        driver::MessageBoxInfo replace = driver::WaitForMessageBox(program_, 10000, dialog.window);
        ASSERT_TRUE(replace.window);
        driver::PressButton(replace.window, IDYES);
        while (IsWindow(dialog.window))
            Sleep(20);
        driver::MessageBoxInfo box = driver::WaitForMessageBox(program_, 10000);
        ASSERT_TRUE(box.window);
        EXPECT_EQ(box.text, "Error writing DIB to file - is there room for the image?");
        EXPECT_EQ(box.caption, "PAGOREX");
        driver::PressButton(box.window, IDOK);
        EXPECT_TRUE(save.Wait(20000));
    }
    CloseHandle(held);
    CloseAndExpectExit();
}

TEST_F(ImageTest, UnwritableDataFileKeepsThePreviousImageAndSaysSo)
{
    Bytes old = storefiles::Bitmap24(20, 20, Green);
    WriteStore({{3, old}});
    driver::WriteFileBytes(Path("new.bmp"), storefiles::Bitmap24(20, 20, Red));
    Bytes indexBefore = driver::ReadFileBytes(Path("pagorex.idx"));
    StartFor(3);
    // Another program holds the data file without sharing: it can be neither opened nor
    // created while the save runs (a read-only attribute does not stop root under Wine).
    HANDLE held = CreateFileA(Path("pagorex.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    OpenFileThroughDialog(Path("new.bmp"));
    driver::PendingCommand save(program_.window, 115);
    driver::MessageBoxInfo box = driver::WaitForMessageBox(program_);
    ASSERT_TRUE(box.window) << "the failed save must be reported";
    EXPECT_EQ(box.caption, "PAGOREX");
    driver::PressButton(box.window, IDOK);
    ASSERT_TRUE(save.Wait(20000));
    CloseHandle(held);
    CloseAndExpectExit();
    auto records = Index();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(storefiles::ImageOf(records[0], Data()), old);
    EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.idx")), indexBefore);
    driver::Release(program_);
    StartFor(3);
    EXPECT_EQ(driver::WaitForPixel(program_.window, 5, 5, RGB(0, 255, 0)), RGB(0, 255, 0)) << "the previous image still loads";
    CloseAndExpectExit();
}

TEST_F(ImageTest, StoreDirectoryLongerThanOldFileNamesAllow)
{
    // Hosts keep their data deep in the tree; the work files' full names then exceed
    // the 128 characters of the old file-open record.
    std::string deep = dir_;
    while (deep.size() < 170) {
        deep += "\\a-rather-long-folder-name";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    Bytes image = storefiles::Bitmap24(24, 16, Pattern);
    driver::WriteFileBytes(Path("long.bmp"), image);
    ASSERT_TRUE(driver::Start(program_, Exe(), "21 " + deep + "\\HOST.DB", dir_));
    ASSERT_TRUE(driver::WaitForMainWindow(program_));
    OpenFileThroughDialog(Path("long.bmp"));
    SaveImage();
    CloseAndExpectExit();
    driver::Release(program_);
    auto records = storefiles::DecodeIndex(driver::ReadFileBytes(deep + "\\pagorex.idx"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(storefiles::ImageOf(records[0], driver::ReadFileBytes(deep + "\\pagorex.dat")), image);
    ASSERT_TRUE(driver::Start(program_, Exe(), "21 " + deep + "\\HOST.DB", dir_));
    ASSERT_TRUE(driver::WaitForMainWindow(program_));
    ExpectShows(image, 24, 16);
    CloseAndExpectExit();
}

TEST_F(ImageTest, ASaveAndACloseHeldDuringASaveRunOnceAfterIt)
{
    // Large enough that the save pumps messages while it compresses.
    Bytes image = storefiles::Bitmap24(1200, 900, Pattern);
    driver::WriteFileBytes(Path("big.bmp"), image);
    StartFor(12);
    OpenFileThroughDialog(Path("big.bmp"));
    driver::PostCommand(program_.window, 115);
    driver::PostCommand(program_.window, 115);
    driver::Close(program_.window);
    EXPECT_EQ(driver::WaitForExit(program_, 120000), 0);
    auto records = Index();
    ASSERT_EQ(records.size(), 1u);
    Bytes data = Data();
    EXPECT_EQ(storefiles::ImageOf(records[0], data), image);
    // The save held behind the first ran once afterwards: two whole blobs of the same
    // image, the record on the second.
    EXPECT_EQ(records[0].dataOffset, records[0].storedLength);
    EXPECT_EQ(data.size(), 2 * size_t(records[0].storedLength));
}
}  // namespace
