// Bitmap files: sizes written, names, round trips, refused files and the JPEG messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialog_robot.h"
#include "dib/dib.h"
#include "dib/dib_builder.h"
#include "dib/dib_file.h"
#include "dib_handles.h"
#include "base/error_box.h"

namespace {
using Bytes = std::vector<uint8_t>;

uint32_t U32At(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

class DibFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = ScratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        TWAIN_SuppressErrorBoxes(true);
    }
    void TearDown() override { TWAIN_SuppressErrorBoxes(false); }
    std::string dir;
};

struct SizeCase {
    const char* what;
    DibShape shape;
    uint32_t fileBytes, offBits, sizeImage;
};

TEST_F(DibFileTest, SizesWritten)
{
    const SizeCase cases[] = {
        {"24-bit 5 x 3", {5, 3, 24}, 102, 54, 48},
        {"1-bit 33 x 10", {33, 10, 1}, 142, 62, 80},
        {"8-bit 5 x 3", {5, 3, 8}, 1078 + 24, 1078, 24},
        {"8-bit, 100 colours", {5, 3, 8, 40, 0, 0, 100}, 454 + 24, 454, 24},
        {"top-down 24-bit", {5, -3, 24}, 102, 54, 48},
        {"32-bit", {2, 2, 32}, 70, 54, 16},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes dibBytes = BuildDib(c.shape);
        HGLOBAL dib = ToHandle(dibBytes);
        std::string path = dir + "size.bmp";
        ASSERT_EQ(DibWriteFile(dib, path.c_str()), 0);
        Bytes file = ReadWholeFile(path);
        ASSERT_EQ(file.size(), c.fileBytes);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(U32At(file, 2), c.fileBytes);
        EXPECT_EQ(U32At(file, 6), 0u);
        EXPECT_EQ(U32At(file, 10), c.offBits);
        EXPECT_EQ(U32At(file, 14 + 20), c.sizeImage);
        EXPECT_EQ(int32_t(U32At(file, 14 + 8)), c.shape.height);
        // The DIB keeps the size it was written with; the rest goes out as it lies.
        Bytes after = BytesOf(dib);
        EXPECT_EQ(U32At(after, 20), c.sizeImage);
        EXPECT_EQ(Bytes(file.begin() + 14, file.end()), after);
        DibFree(dib);
    }
}

TEST_F(DibFileTest, ExtensionRule)
{
    CreateDirectoryA((dir + "a.b").c_str(), nullptr);
    const struct {
        const char* given;
        const char* written;
    } cases[] = {
        {"scan", "scan.bmp"},
        {"a.b\\scan", "a.b\\scan.bmp"},
        {"a.b/page", "a.b/page.bmp"},
        {"photo.jpg", "photo.jpg"},
        {"two.dots.x", "two.dots.x"},
        {"a.b\\c.tif", "a.b\\c.tif"},
    };
    HGLOBAL dib = DibCreate(1, 8, 8);
    for (auto c : cases) {
        SCOPED_TRACE(c.given);
        ASSERT_EQ(DibWriteFile(dib, (dir + c.given).c_str()), 0);
        Bytes file = ReadWholeFile(dir + c.written);
        ASSERT_EQ(file.size(), 62u + 32);
        EXPECT_EQ(file[0], 'B');  // a BMP whatever the extension says
    }
    EXPECT_FALSE(FileExists(dir + "scan"));
    DibFree(dib);
}

TEST_F(DibFileTest, WriteThenReadGivesTheSameBytes)
{
    for (const DibShape& s : kEveryKindOfBitmap) {
        SCOPED_TRACE(testing::Message() << s.bitCount << " bits, header " << s.headerSize);
        HGLOBAL dib = ToHandle(BuildDib(s));
        std::string path = dir + "round.bmp";
        ASSERT_EQ(DibWriteFile(dib, path.c_str()), 0);
        HGLOBAL back = DibReadFile(path.c_str());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(BytesOf(back), BytesOf(dib));
        DibFree(back);
        DibFree(dib);
    }
}

TEST_F(DibFileTest, CompressedDibWithoutSizeWritesNothing)
{
    HGLOBAL dib = ToHandle(BuildDib({5, 3, 8, 40, 1, 0}));
    std::string path = dir + "rle.bmp";
    WriteWholeFile(path, Bytes(50, 1));
    EXPECT_EQ(DibWriteFile(dib, path.c_str()), -4);
    ASSERT_TRUE(FileExists(path));
    EXPECT_TRUE(ReadWholeFile(path).empty());
    DibFree(dib);
}

TEST_F(DibFileTest, UnsafeDibIsNotWritten)
{
    HGLOBAL dib = DibCreate(8, 4, 1);
    DibSetColorCount(dib, 300);  // the table would now reach past the block
    EXPECT_EQ(DibWriteFile(dib, (dir + "bad.bmp").c_str()), -4);
    DibFree(dib);
}

TEST_F(DibFileTest, NamesThatCannotBeCreated)
{
    HGLOBAL dib = DibCreate(1, 8, 8);
    EXPECT_EQ(DibWriteFile(dib, (dir + "missing\\dir\\x.bmp").c_str()), -2);
    std::string tooLong(253, 'n');  // the extension would not fit in 255
    EXPECT_EQ(DibWriteFile(dib, tooLong.c_str()), -2);
    EXPECT_EQ(DibWriteFile(dib, std::string(300, 'n').c_str()), -2);
    EXPECT_EQ(DibReadFile(std::string(300, 'n').c_str()), nullptr);
    DibFree(dib);
}

struct FileCase {
    const char* what;
    Bytes file;
    long dibBytes;  // -1: refused
};

Bytes FileOf(const Bytes& dib, long sizeAdjust = 0, const Bytes& tail = {})
{
    Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    uint32_t size = uint32_t(14 + long(dib.size()) + sizeAdjust);
    for (int i = 0; i < 4; ++i)
        file[2 + i] = uint8_t(size >> (8 * i));
    file.insert(file.end(), dib.begin(), dib.end());
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
}

TEST_F(DibFileTest, ShortAndLyingFilesAreRefused)
{
    Bytes good = BuildDib({5, 3, 24});
    Bytes huge = FileOf(good);
    huge[2] = huge[3] = huge[4] = huge[5] = 0xFF;
    Bytes tiny = FileOf(good);
    tiny[2] = 13, tiny[3] = tiny[4] = tiny[5] = 0;
    const FileCase cases[] = {
        {"whole", FileOf(good), 88},
        {"bytes past bfSize are cut", FileOf(good, 0, Bytes(30, 9)), 88},
        {"bfSize cuts spare bytes", FileOf(BuildDib({5, 3, 24}, 12), -12), 88},
        {"no signature", Bytes{'M', 'B', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, -1},
        {"empty file", Bytes{}, -1},
        {"signature only", Bytes{'B', 'M'}, -1},
        {"short header", Bytes{'B', 'M', 40, 0, 0, 0, 0, 0, 0, 0, 54, 0}, -1},
        {"bfSize past the end", FileOf(good, 1), -1},
        {"bfSize of 4 GB", huge, -1},
        {"bfSize below 14", tiny, -1},
        {"bfSize cuts the rows", FileOf(good, -1), -1},
        {"rows past the DIB", FileOf(BuildDib({5, 3, 24}, -1)), -1},
        {"header size 20", FileOf(BuildDib({5, 3, 24, 20})), -1},
        {"depth 7", FileOf(BuildDib({5, 3, 7})), -1},
        {"width 0", FileOf(BuildDib({0, 3, 24}, 16)), -1},
        {"colour table past the end", FileOf(BuildDib({1, 1, 8, 40, 0, 0, 300}, -1000)), -1},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir + "in.bmp";
        WriteWholeFile(path, c.file);
        HGLOBAL dib = DibReadFile(path.c_str());
        if (c.dibBytes < 0) {
            EXPECT_EQ(dib, nullptr);
            continue;
        }
        ASSERT_NE(dib, nullptr);
        Bytes bytes = BytesOf(dib);
        ASSERT_EQ(long(bytes.size()), c.dibBytes);
        EXPECT_EQ(bytes, Bytes(c.file.begin() + 14, c.file.begin() + 14 + c.dibBytes));
        DibFree(dib);
    }
    EXPECT_EQ(DibReadFile((dir + "nowhere.bmp").c_str()), nullptr);
}

TEST_F(DibFileTest, ReadsAndWritesAtTheFilesPosition)
{
    HGLOBAL dib = DibCreate(24, 5, 3);
    std::string path = dir + "handle.bin";
    OFSTRUCT info{};
    HFILE file = OpenFile(path.c_str(), &info, OF_CREATE | OF_WRITE);
    ASSERT_NE(file, HFILE_ERROR);
    _lwrite(file, "xyz", 3);
    EXPECT_EQ(DibWriteToHandle(dib, file), 0);
    _lclose(file);
    Bytes written = ReadWholeFile(path);
    ASSERT_EQ(written.size(), 105u);
    EXPECT_EQ(written[3], 'B');
    // Reading starts at offset 0 whatever the position.
    WriteWholeFile(path, Bytes(written.begin() + 3, written.end()));
    file = OpenFile(path.c_str(), &info, OF_READ);
    _llseek(file, 50, FILE_BEGIN);
    HGLOBAL back = DibReadFromHandle(file);
    _lclose(file);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(BytesOf(back), BytesOf(dib));
    DibFree(back);
    DibFree(dib);
}

// Runs `call` while a robot reads the message box it shows and presses OK.
template <typename Call>
std::string MessageShownBy(Call call)
{
    std::string text;
    DialogRobot robot([&text](HWND box) {
        text = DialogRobot::TextOf(GetDlgItem(box, 0xFFFF));
        SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    });
    call();
    robot.Finish();
    return text;
}

TEST_F(DibFileTest, JpegMessagesUnlessSuppressed)
{
    HGLOBAL dib = DibCreate(1, 8, 8);
    EXPECT_EQ(DibJpegAvailable(), 0);
    EXPECT_EQ(DibSetSaveFormat(4), 0);
    EXPECT_EQ(DibGetSaveFormat(), 2);
    EXPECT_EQ(DibWriteJpeg(dib, (dir + "x.jpg").c_str()), -3);

    TWAIN_SuppressErrorBoxes(false);
    int result = 1;
    EXPECT_EQ(MessageShownBy([&] { result = DibSetSaveFormat(4); }),
              "Cannot save JPEG files: IJL11.DLL or IJL10.DLL not found.");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DibGetSaveFormat(), 2);
    EXPECT_EQ(MessageShownBy([&] { result = DibWriteJpeg(dib, (dir + "x.jpg").c_str()); }),
              "This version of ACQUIRA does not support JPEG/JFIF files.");
    EXPECT_EQ(result, -3);
    EXPECT_FALSE(FileExists(dir + "x.jpg"));
    DibFree(dib);
}

TEST_F(DibFileTest, SaveFormatAndQualitySettings)
{
    TWAIN_SuppressErrorBoxes(false);  // none of these may show a box
    DialogRobot watcher([](HWND box) { SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); }, 500);
    for (int code : {0, 1, 3, 5, -2})
        EXPECT_EQ(DibSetSaveFormat(code), 0) << code;
    EXPECT_FALSE(watcher.Finish());
    EXPECT_EQ(DibGetSaveFormat(), 2);
    EXPECT_EQ(DibSetSaveFormat(2), 1);
    EXPECT_EQ(DibGetSaveFormat(), 2);
    EXPECT_EQ(DibGetJpegQuality(), 75);
    DibSetJpegQuality(40);
    EXPECT_EQ(DibGetJpegQuality(), 40);
    DibSetJpegQuality(75);
}
}  // namespace
