// Bitmaps from other writers (rows stored top-down, the old 12-byte core header, 48-bit
// samples) are shown upright and pixel for pixel, at actual size and stretched, and a
// save stores them exactly as they came.
#include "e2e.h"
#include "support/store_files.h"

#include <windows.h>

namespace {
using storefiles::Bytes;

constexpr int kWidth = 64, kHeight = 40;

// Sixteen colours in 8 x 8 blocks; the four corners of the picture all differ, so an
// image drawn upside down or mirrored cannot pass.
const COLORREF kColours[16] = {
    RGB(250, 10, 10),  RGB(10, 250, 10),   RGB(10, 10, 250),  RGB(240, 240, 20),  RGB(20, 240, 240),  RGB(240, 20, 240),
    RGB(128, 64, 32),  RGB(32, 64, 128),   RGB(200, 200, 200), RGB(90, 90, 90),  RGB(255, 128, 0),   RGB(0, 128, 255),
    RGB(128, 0, 255),  RGB(60, 180, 60),   RGB(180, 60, 60),  RGB(255, 255, 255),
};
int ColourIndex(int x, int y)
{
    return (x / 8 + 3 * (y / 8)) % 16;
}
COLORREF Colour(int x, int y)
{
    return kColours[ColourIndex(x, y)];
}

enum class Kind { TopDown24, TopDown8, Core24, Core8, Deep48 };

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A bitmap file of the picture above, written the way that kind of writer does.
Bytes BitmapFile(Kind kind)
{
    bool core = kind == Kind::Core24 || kind == Kind::Core8;
    int bits = kind == Kind::Deep48 ? 48 : (kind == Kind::TopDown8 || kind == Kind::Core8) ? 8 : 24;
    bool topDown = !core;
    uint32_t header = core ? 12 : 40;
    uint32_t entries = bits == 8 ? 256 : 0;
    uint32_t entryBytes = core ? 3 : 4;
    uint32_t stride = (bits * kWidth + 31) / 32 * 4;
    uint32_t offBits = 14 + header + entries * entryBytes;
    Bytes file(offBits + stride * kHeight, 0);
    file[0] = 'B', file[1] = 'M';
    Put32(file, 2, uint32_t(file.size()));
    Put32(file, 10, offBits);
    Put32(file, 14, header);
    if (core) {
        Put16(file, 18, kWidth), Put16(file, 20, kHeight), Put16(file, 22, 1), Put16(file, 24, uint32_t(bits));
    } else {
        Put32(file, 18, kWidth);
        Put32(file, 22, uint32_t(topDown ? -kHeight : kHeight));
        Put16(file, 26, 1), Put16(file, 28, uint32_t(bits));
        Put32(file, 34, stride * kHeight);  // as the program's writer puts it
    }
    for (uint32_t i = 0; i < 16 && entries; ++i) {
        uint8_t* e = file.data() + 14 + header + i * entryBytes;
        e[0] = GetBValue(kColours[i]), e[1] = GetGValue(kColours[i]), e[2] = GetRValue(kColours[i]);
    }
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = file.data() + offBits + (topDown ? y : kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            COLORREF c = Colour(x, y);
            if (bits == 8) {
                row[x] = uint8_t(ColourIndex(x, y));
            } else if (bits == 24) {
                row[3 * x] = GetBValue(c), row[3 * x + 1] = GetGValue(c), row[3 * x + 2] = GetRValue(c);
            } else {
                // 16-bit samples: the high byte carries the colour, the low byte noise.
                uint8_t* p = row + 6 * x;
                p[0] = 0x5A, p[1] = GetBValue(c), p[2] = 0xA5, p[3] = GetGValue(c), p[4] = 0x3C, p[5] = GetRValue(c);
            }
        }
    }
    return file;
}

struct KindCase {
    const char* name;
    Kind kind;
};

class BitmapKindsTest : public ProgramTest {
protected:
    // Every pixel of the picture at the top-left corner of the client area.
    int WrongPixels()
    {
        int wrong = 0;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(50)) {
            std::vector<COLORREF> pixels = driver::Pixels(program_.window, kWidth, kHeight);
            wrong = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    wrong += pixels[y * kWidth + x] != Colour(x, y);
            if (wrong == 0)
                break;
        }
        return wrong;
    }
    // Stretched over the whole client area: each corner shows the picture's corner.
    void ExpectStretchedCorners()
    {
        SIZE client = driver::ClientSize(program_.window);
        ASSERT_GT(client.cx, kWidth) << "the window is wider than the picture";
        const struct {
            int x, y;
            COLORREF colour;
        } corners[] = {{2, 2, Colour(0, 0)},
                       {client.cx - 3, 2, Colour(kWidth - 1, 0)},
                       {2, client.cy - 3, Colour(0, kHeight - 1)},
                       {client.cx - 3, client.cy - 3, Colour(kWidth - 1, kHeight - 1)}};
        for (const auto& c : corners)
            EXPECT_EQ(driver::WaitForPixel(program_.window, c.x, c.y, c.colour), c.colour) << c.x << "," << c.y;
    }
};

TEST_F(BitmapKindsTest, EveryKindIsDrawnUprightAndStoredUnchanged)
{
    const KindCase cases[] = {
        {"24-bit rows top-down", Kind::TopDown24},
        {"8-bit rows top-down", Kind::TopDown8},
        {"24-bit core header", Kind::Core24},
        {"8-bit core header with its palette", Kind::Core8},
        {"48-bit rows top-down", Kind::Deep48},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = BitmapFile(c.kind);
        Bytes index, data;
        storefiles::AddRecord(index, data, 3, image, true);
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.idx"), index));
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.dat"), data));
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.cfg"), {0}));
        StartFor(3);
        EXPECT_EQ(driver::ClientSize(program_.window).cy, kHeight);
        EXPECT_EQ(WrongPixels(), 0) << "pixels differ from the picture at actual size";
        ASSERT_TRUE(driver::Command(program_.window, 118));  // stretch to the window
        ExpectStretchedCorners();
        // Drawing changed nothing in the image: a save stores the file it came from.
        ASSERT_TRUE(driver::Command(program_.window, 115, 60000));
        CloseAndExpectExit();
        driver::Release(program_);
        auto records = storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx")));
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(storefiles::ImageOf(records[0], driver::ReadFileBytes(Path("pagorex.dat"))), image);
    }
}
}  // namespace
