// Buffered memory transfers against the scripted source, for what Wine's manager and the
// virtual scanner cannot show: the buffer the library hands over and how often it asks,
// the palette's table, and a source that rewrites Memory in its answers. (Layouts, lies
// and refusals are covered natively and end to end.)
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "acquisition_fixture.h"
#include "dib/dib.h"
#include "dib/dib_lock.h"

using pagemodel::Pad;
using pagemodel::PageSpec;

namespace twtest {
namespace {

class MemoryTransfer : public ScriptedAcquisition {
protected:
    // Acquires, compares with the page and frees; the difference, or empty.
    static std::string AcquireAndCompare(const PageSpec& page)
    {
        HGLOBAL dib = TWAIN_AcquireMemory(nullptr);
        if (!dib)
            return "no image";
        std::string difference;
        {
            LockedDib locked(dib);
            difference = pagemodel::CompareDib(page, locked.data(), locked.size());
        }
        TWAIN_FreeDib(dib);
        return difference;
    }
};

TEST_F(MemoryTransfer, PagesOfEachLayoutArriveWhole)
{
    const struct {
        const char* name;
        PageSpec page;
        int rows;
        Pad pad;
        bool done;
    } pages[] = {
        {"rgb chunky", {TWPT_RGB, 24, 3, false, 33, 17}, 5, Pad::word, true},
        {"rgb planar", {TWPT_RGB, 24, 3, true, 21, 9}, 4, Pad::byte, false},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.name);
        SetUp();
        ScriptPage(p.page, p.rows, p.pad, p.done);
        const std::size_t strips = fake.strips.size();
        EXPECT_EQ(AcquireAndCompare(p.page), "");
        EXPECT_EQ(std::size_t(CountOf(kStrip)), strips) << "not one request more than the page needs";
        // One buffer of the preferred size, handed over as the library's own pointer.
        ASSERT_FALSE(fake.memoryHandedOver.empty());
        for (const TW_MEMORY& m : fake.memoryHandedOver) {
            EXPECT_EQ(m.Flags, TWMF_APPOWNS | TWMF_POINTER);
            EXPECT_EQ(m.Length, fake.setup.Preferred);
            EXPECT_EQ(m.TheMem, fake.memoryHandedOver[0].TheMem);
        }
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NONE);
        TearDown();
    }
}

TEST_F(MemoryTransfer, ResolutionAndPaletteByIndexWithFewerColours)
{
    const PageSpec page{TWPT_PALETTE, 8, 1, false, 9, 4};
    ScriptPage(page, 4, Pad::word, true);
    fake.palette.NumColors = 3;
    fake.palette.Colors[0] = TW_ELEMENT8{7, 70, 71, 72};
    fake.palette.Colors[1] = TW_ELEMENT8{2, 20, 21, 22};
    fake.palette.Colors[2] = TW_ELEMENT8{0, 1, 2, 3};
    HGLOBAL dib = TWAIN_AcquireMemory(nullptr);
    ASSERT_NE(dib, nullptr);
    EXPECT_NEAR(DibXResolution(dib), 299.9994, 1e-4);
    EXPECT_NEAR(DibYResolution(dib), 199.9996, 1e-4);
    // The full table stays, so the rows are where they were stored.
    EXPECT_EQ(DibColorCount(dib), 256);
    {
        LockedDib locked(dib);
        EXPECT_EQ(pagemodel::CompareDib(page, locked.data(), locked.size()), "");
    }
    std::vector<BYTE> rgb(27);
    DibReadRowRGB(dib, 0, rgb.data());  // pixel (0, 0) has index 0, (1, 0) index 29
    EXPECT_EQ((std::vector<BYTE>(rgb.begin(), rgb.begin() + 3)), (std::vector<BYTE>{1, 2, 3}));
    BITMAPINFOHEADER* header = DibLock(dib);
    const RGBQUAD seven = DibColorAt(header, 7), two = DibColorAt(header, 2), three = DibColorAt(header, 3);
    DibUnlock(dib);
    EXPECT_EQ((std::vector<int>{seven.rgbRed, seven.rgbGreen, seven.rgbBlue}), (std::vector<int>{70, 71, 72}));
    EXPECT_EQ((std::vector<int>{two.rgbRed, two.rgbGreen, two.rgbBlue}), (std::vector<int>{20, 21, 22}));
    EXPECT_EQ(three.rgbRed, 3);  // not sent: the gray ramp
    TWAIN_FreeDib(dib);

    SetUp();
    ScriptPage(page, 4, Pad::word, true);
    fake.paletteRc = TWRC_FAILURE;
    EXPECT_EQ(TWAIN_AcquireMemory(nullptr), nullptr);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"ACQR: Can't get image palette."});
}

// A source that rewrites Memory in its answer is still read from the library's buffer.
TEST_F(MemoryTransfer, StripsAreReadFromTheLibrarysOwnBuffer)
{
    const PageSpec page{TWPT_GRAY, 8, 1, false, 16, 6};
    ScriptPage(page, 3, Pad::word, true);
    std::vector<std::uint8_t> elsewhere(4, 0xEE);
    Script(true, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_SUCCESS, [&elsewhere](void* d) {
        auto* mx = static_cast<TW_IMAGEMEMXFER*>(d);
        pagemodel::Strip s = fake.strips.front();
        fake.strips.pop_front();
        std::memcpy(mx->Memory.TheMem, s.bytes.data(), s.bytes.size());
        *mx = TW_IMAGEMEMXFER{s.mx.Compression, s.mx.BytesPerRow, s.mx.Columns, s.mx.Rows, s.mx.XOffset,
                              s.mx.YOffset, s.mx.BytesWritten, TW_MEMORY{TWMF_HANDLE, 1u << 30, elsewhere.data()}};
    });
    EXPECT_EQ(AcquireAndCompare(page), "");
}

}  // namespace
}  // namespace twtest
