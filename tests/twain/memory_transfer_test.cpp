// Buffered memory transfers against the scripted source: pages of each layout compared
// pixel by pixel, the buffer the library hands over, the palette, the images no DIB is
// made for, strips that lie, sources that never finish, and the report shown once per
// run and copied to the clipboard.
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

constexpr char kReportStart[] =
    "ACQUIRA Memory Transfer Incompatibility\n(unexpected mx.BytesPerRow)\n\n"
    "This text has been copied to the clipboard.\nPlease paste it into an e-mail to: support@pagorex.example\n\n"
    "Product \"Fake One\"\n";

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

std::string ClipboardText()
{
    std::string text;
    if (!OpenClipboard(nullptr))
        return text;
    if (HGLOBAL h = GetClipboardData(CF_TEXT)) {
        text = static_cast<const char*>(GlobalLock(h));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return text;
}

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
        {"rgbx", {TWPT_RGB, 32, 4, false, 7, 6}, 6, Pad::word, true},
        {"bw byte rows", {TWPT_BW, 1, 1, false, 45, 13}, 3, Pad::byte, true},
        {"gray by count", {TWPT_GRAY, 8, 1, false, 19, 10}, 3, Pad::word, false},
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

// Images no DIB is made for: their message, nothing allocated, no strip asked for, and
// the image still pending (state 6) for the end of the acquisition to discard.
TEST_F(MemoryTransfer, ImagesThatCannotBeHeldAreRefusedBeforeAnyStrip)
{
    const struct {
        void (*change)(TW_IMAGEINFO& info);
        const char* box;
    } cases[] = {
        {[](TW_IMAGEINFO& i) { i.ImageLength = -1; }, "ACQR: Unable to transfer unknown length image."},
        {[](TW_IMAGEINFO& i) { i.Compression = TWCP_GROUP4; }, "ACQR: Unable to transfer compressed memory data."},
        {[](TW_IMAGEINFO& i) { i.PixelType = TWPT_CIEXYZ; },
         "ACQR: Unable to transfer exotic pixel type: CMY,YUV,XYZ,..."},
        {[](TW_IMAGEINFO& i) { i.ImageWidth = 0; }, "ACQR: Unable to transfer an image of 0 x 4 pixels."},
        {[](TW_IMAGEINFO& i) { i.Planar = 1, i.SamplesPerPixel = 0; },
         "ACQR: Unable to transfer planar data of 0 samples per pixel."},
        {[](TW_IMAGEINFO& i) { i.BitsPerPixel = 0; },
         "ACQR: Unable to transfer an image of 0 bits per pixel in 3 samples."},
        {[](TW_IMAGEINFO& i) { i.ImageWidth = 70000, i.ImageLength = 70000; },
         "ACQR: Image too large to transfer: 70000 x 70000 pixels of 24 bits."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        SetUp();
        TWAIN_SetMultiTransfer(true);
        ScriptPage(PageSpec{TWPT_RGB, 24, 3, false, 5, 4}, 4, Pad::word, true);
        c.change(fake.info);
        EXPECT_EQ(TWAIN_AcquireMemory(nullptr), nullptr);
        EXPECT_EQ(Boxes(), std::vector<std::string>{c.box});
        EXPECT_EQ(CountOf(kStrip), 0);
        EXPECT_EQ(CountOf(kEndXfer), 0);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_TRANSFER_READY);
        TearDown();
    }
}

// Strips that end the transfer: no image, the first error recorded, the transfer ended.
TEST_F(MemoryTransfer, StripsThatLieOrNeverComeEndTheTransfer)
{
    const struct {
        const char* name;
        std::function<void()> script;
        int error;
        int requests;
    } cases[] = {
        {"rows beyond the buffer",
         [] { fake.strips[1].mx.Rows = 200, fake.strips[1].mx.BytesWritten = TWON_DONTCARE32; }, TWERR_TRANSFER, 2},
        {"more than written", [] { fake.strips[0].mx.BytesWritten = 10; }, TWERR_TRANSFER, 1},
        {"offset below the image", [] { fake.strips[1].mx.YOffset = 99; }, TWERR_TRANSFER, 2},
        {"cancel at the third strip", [] { fake.cancelAt = 2; }, TWERR_CANCELLED, 3},
        {"strips end early", [] { fake.strips.resize(2); }, TWERR_TRANSFER, 3},
        {"strips without pixels forever",
         [] {
             Script(true, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_SUCCESS,
                    [](void* d) { static_cast<TW_IMAGEMEMXFER*>(d)->Rows = 0; });
         },
         TWERR_TRANSFER, strips::kMaxEmptyStrips},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ScriptPage(PageSpec{TWPT_RGB, 24, 3, false, 8, 12}, 3, Pad::word, true);
        c.script();
        EXPECT_EQ(TWAIN_AcquireMemory(nullptr), nullptr);
        EXPECT_EQ(TWAIN_GetLastErrorCode(), c.error);
        EXPECT_EQ(CountOf(kStrip), c.requests);
        EXPECT_EQ(CountOf(kEndXfer), 1);
        EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
        TearDown();
    }
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

TEST_F(MemoryTransfer, IncompatibilityIsReportedOncePerRunAndCopiedWithCrLf)
{
    const PageSpec page{TWPT_GRAY, 8, 1, false, 10, 6};
    for (int run = 0; run < 2; ++run) {
        ScriptPage(page, 3, Pad::odd, true);
        fake.events = {MSG_XFERREADY};
        EXPECT_EQ(AcquireAndCompare(page), "") << "odd rows are still assembled";
    }
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind(kReportStart, 0), 0u) << boxes[0];
    EXPECT_NE(boxes[0].find("MXB.Columns: 10, Rows: 3, XOffset: 0, YOffset: 0\nINFO.ImageWidth: 10, ImageLength: 6\n"
                            "INFO.SPP: 1, BPS: [8, 0, 0, 0], BPP: 8\nINFO.Planar: 0, PixelType: 1, Compression: 0"),
              std::string::npos);
    std::string crlf;
    for (char ch : boxes[0])
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    EXPECT_EQ(ClipboardText().rfind(crlf, 0), 0u);
}

}  // namespace
}  // namespace twtest
