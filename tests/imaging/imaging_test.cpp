// The clean-ups measured on the page the test draws (tests/imaging/test_page.h), and on
// every kind of DIB the program shows. Built natively and for both Windows targets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dib/dib_builder.h"
#include "imaging/blank_page.h"
#include "imaging/crop.h"
#include "imaging/page_commands.h"
#include "imaging/page_image.h"
#include "imaging/test_page.h"
#include "store/core/parallel_gzip.h"

namespace {
using Bytes = std::vector<uint8_t>;
using imaging::Outcome;
using imaging::PageCommand;

struct Block : imaging::ResultBlock {
    Bytes bytes;
    uint8_t* Allocate(size_t n) override
    {
        bytes.assign(n, 0xEE);
        return bytes.data();
    }
};

imaging::CommandResult Clean(PageCommand command, const Bytes& dib, Block& out)
{
    return imaging::RunPageCommand(command, dib.data(), dib.size(), out);
}

imaging::Plane Grey(const Bytes& dib)
{
    imaging::Plane grey;
    imaging::ReadGrey(dib.data(), dib.size(), grey);
    return grey;
}

// A 3 x 2 page of every kind: the top row in one colour (grey level `grey`), the bottom
// row black. Palettes hold black at 0 and the colour at 1; masks follow a 40-byte header.
struct KindCase {
    const char* name;
    DibShape shape;
    std::vector<uint32_t> masks;
    Bytes pixel;  // the top row's pixel as stored (an index below 8 bits)
    int grey;
};

Bytes KindPage(const KindCase& c)
{
    const long masks = long(c.masks.size() * 4);
    Bytes dib = BuildDib(c.shape, masks);
    DibLayout l = DibReadLayout(dib.data());
    uint64_t bits = DibBitsOffset(l);
    for (size_t i = 0; i < c.masks.size(); ++i)
        PutLE(dib, 40 + 4 * i, c.masks[i], 4);
    if (l.bitCount <= 8) {
        std::fill(dib.begin() + l.headerSize, dib.begin() + long(bits), 0);
        const uint8_t colour[3] = {50, 100, 200};  // blue, green, red
        std::copy(colour, colour + 3, dib.begin() + l.headerSize + l.entryBytes);
    }
    if (l.headerSize != 12)
        PutLE(dib, dibfield::kXPelsPerMeter, 11811, 4), PutLE(dib, dibfield::kYPelsPerMeter, 5906, 4);
    std::fill(dib.begin() + long(bits), dib.end(), 0);
    const int stride = RowBytes(l.bitCount, l.width);
    uint8_t* top = dib.data() + bits + (l.height > 0 ? stride : 0);
    for (int x = 0; x < l.width; ++x) {
        if (l.bitCount < 8)
            top[x * l.bitCount / 8] |= uint8_t(c.pixel[0] << (8 - l.bitCount * (x % (8 / l.bitCount) + 1)));
        else
            std::copy(c.pixel.begin(), c.pixel.end(), top + x * l.bitCount / 8);
    }
    return dib;
}

TEST(Imaging, GreyReadsEveryKindOfDibByTheUsualWeightsAndKeepsTheResolution)
{
    const KindCase cases[] = {
        {"1-bit", {3, 2, 1}, {}, {1}, 124},
        {"4-bit, top-down", {3, -2, 4}, {}, {1}, 124},
        {"8-bit", {3, 2, 8, 40, 0, 0, 2}, {}, {1}, 124},
        // Fields widen by repeating their bits, as the display draws them: 25 of 31 is 206.
        {"16-bit 5-5-5", {3, 2, 16}, {}, {0x86, 0x65}, 125},
        {"16-bit bit fields 5-6-5", {3, 2, 16, 40, 3}, {0xF800, 0x07E0, 0x001F}, {0x26, 0xCB}, 126},
        {"24-bit, top-down", {3, -2, 24}, {}, {50, 100, 200}, 124},
        {"24-bit core header", {3, 2, 24, 12}, {}, {50, 100, 200}, 124},
        {"32-bit", {3, 2, 32}, {}, {50, 100, 200, 9}, 124},
        {"32-bit bit fields, red low", {3, 2, 32, 40, 3}, {0xFF, 0xFF00, 0xFF0000}, {200, 100, 50, 0}, 124},
        {"48-bit", {3, 2, 48}, {}, {0, 50, 0, 100, 0, 200}, 124},
        {"32-bit fields of 32 bits, white", {3, 2, 32, 40, 3}, {~0u, ~0u, ~0u}, {255, 255, 255, 255}, 255},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes page = KindPage(c);
        Block out;
        ASSERT_EQ(Clean(PageCommand::kGrey, page, out).outcome, Outcome::kDone);
        DibLayout l = DibReadLayout(out.bytes.data());
        EXPECT_EQ(l.bitCount, 8);
        EXPECT_EQ(l.colorCount, 256u);
        EXPECT_EQ(out.bytes[40 + 4 * 77], 77);
        imaging::Plane grey = Grey(out.bytes);
        EXPECT_EQ(grey.Row(0)[2], c.grey);
        EXPECT_EQ(grey.Row(1)[0], 0);
        uint32_t x = c.shape.headerSize == 12 ? 0 : 11811, y = c.shape.headerSize == 12 ? 0 : 5906;
        EXPECT_EQ(out.bytes[24] | out.bytes[25] << 8, int(x & 0xFFFF));
        EXPECT_EQ(out.bytes[28] | out.bytes[29] << 8, int(y & 0xFFFF));
    }
}

TEST(Imaging, BlackAndWhiteKeepsTheStrokesAndLosesUnevenlyLitPaper)
{
    testpage::Page page = testpage::Make({1200, 900});
    Block out;
    ASSERT_EQ(Clean(PageCommand::kBlackAndWhite, page.dib, out).outcome, Outcome::kDone);
    ASSERT_EQ(DibReadLayout(out.bytes.data()).bitCount, 1);
    imaging::Plane bw = Grey(out.bytes);
    size_t ink = 0, inkBlack = 0, paper = 0, paperWhite = 0;
    for (size_t i = 0; i < page.truth.size(); ++i) {
        bool black = bw.pixels[i] == 0;
        if (page.truth[i] == testpage::kInk)
            ++ink, inkBlack += black;
        else
            ++paper, paperWhite += !black;
    }
    EXPECT_GE(double(inkBlack), 0.99 * double(ink));
    EXPECT_GE(double(paperWhite), 0.995 * double(paper));
}

TEST(Imaging, StraightenFindsEveryAngleWithinATenthOfADegreeAndLeavesPagesWithoutLines)
{
    for (int half = -16; half <= 16; ++half) {
        const double degrees = half / 2.0;
        SCOPED_TRACE(degrees);
        testpage::Page page = testpage::Make({1000, 800, degrees, 0, testpage::Content::kText, uint32_t(half + 40)});
        Block out;
        imaging::CommandResult r = Clean(PageCommand::kStraighten, page.dib, out);
        EXPECT_NEAR(r.skewDegrees, degrees, 0.1);
        EXPECT_EQ(r.outcome, half == 0 ? Outcome::kAlreadyLevel : Outcome::kDone);
        if (half != 13)
            continue;
        // Turned back, the strokes lie where the straight page has them.
        testpage::Page straight = testpage::Make({1000, 800});
        imaging::Plane grey = Grey(out.bytes);
        size_t ink = 0, dark = 0;
        for (size_t i = 0; i < straight.truth.size(); ++i)
            if (straight.truth[i] == testpage::kInk)
                ++ink, dark += grey.pixels[i] < 128;
        EXPECT_GE(double(dark), 0.9 * double(ink));
    }
    for (testpage::Content content : {testpage::Content::kBlank, testpage::Content::kNoise}) {
        Block out;
        testpage::Page page = testpage::Make({1000, 800, 0, 0, content});
        EXPECT_EQ(Clean(PageCommand::kStraighten, page.dib, out).outcome, Outcome::kNoLines);
        EXPECT_TRUE(out.bytes.empty());
    }
}

TEST(Imaging, StraightenKeepsABilevelPageBilevelAndAGreyPageGrey)
{
    testpage::Page page = testpage::Make({800, 600, 3.0});
    for (PageCommand first : {PageCommand::kBlackAndWhite, PageCommand::kGrey}) {
        Block converted, out;
        ASSERT_EQ(Clean(first, page.dib, converted).outcome, Outcome::kDone);
        imaging::CommandResult r = Clean(PageCommand::kStraighten, converted.bytes, out);
        EXPECT_EQ(r.outcome, Outcome::kDone);
        EXPECT_NEAR(r.skewDegrees, 3.0, 0.1);
        EXPECT_EQ(DibReadLayout(out.bytes.data()).bitCount, DibReadLayout(converted.bytes.data()).bitCount);
        EXPECT_EQ(DibReadLayout(out.bytes.data()).width, 800);
    }
}

TEST(Imaging, CropCutsADarkBorderToWithinTwoPixelsOfThePaperAndLeavesAPageWithoutOne)
{
    for (int border : {12, 57}) {
        SCOPED_TRACE(border);
        testpage::Page page = testpage::Make({1000, 800, 0, border});
        imaging::Box paper;
        ASSERT_TRUE(imaging::FindPaper(Grey(page.dib), paper));
        EXPECT_NEAR(paper.left, border, 2);
        EXPECT_NEAR(paper.top, border, 2);
        EXPECT_NEAR(paper.right, 1000 - border, 2);
        EXPECT_NEAR(paper.bottom, 800 - border, 2);
        Block out;
        ASSERT_EQ(Clean(PageCommand::kCrop, page.dib, out).outcome, Outcome::kDone);
        EXPECT_EQ(DibReadLayout(out.bytes.data()).width, paper.right - paper.left);
    }
    Block out;
    EXPECT_EQ(Clean(PageCommand::kCrop, testpage::Make({1000, 800}).dib, out).outcome, Outcome::kNoBorder);
}

TEST(Imaging, CropKeepsTheKindOfDibPixelForPixel)
{
    for (DibShape shape : {DibShape{13, -5, 4}, DibShape{13, 5, 1}, DibShape{13, 5, 24, 12}, DibShape{13, 5, 24, 124}}) {
        const bool v5 = shape.headerSize == 124;
        Bytes dib = BuildDib(shape, v5 ? 20 : 0);
        if (v5)
            EmbedProfile(dib, 20);
        const imaging::Box box{3, 1, 12, 4};
        Bytes out(imaging::CroppedBytes(dib.data(), dib.size(), box));
        ASSERT_TRUE(imaging::Crop(dib.data(), dib.size(), box, out.data(), out.size()));
        ASSERT_TRUE(DibIsSafe(out.data(), out.size()));
        imaging::Plane before, after;
        imaging::ReadColour(dib.data(), dib.size(), before);
        imaging::ReadColour(out.data(), out.size(), after);
        ASSERT_EQ(after.width, 9);
        for (int y = 0; y < 3; ++y)
            EXPECT_TRUE(std::equal(after.Row(y), after.Row(y) + 27, before.Row(y + 1) + 9)) << y;
        if (v5) {
            EXPECT_EQ(out[112] | out[113] << 8, int(out.size()) - 20) << "the profile followed the rows";
        }
    }
}

TEST(Imaging, TheBlackAndWhiteA4PageIsStoredInAtMostATwentiethOfTheColourPage)
{
    testpage::Page page = testpage::Make(testpage::A4());
    Block bw;
    ASSERT_EQ(Clean(PageCommand::kBlackAndWhite, page.dib, bw).outcome, Outcome::kDone);
    auto blob = [](const Bytes& dib) {
        Bytes file(14, 0);
        file.insert(file.end(), dib.begin(), dib.end());
        return pgz::CompressMember(file).size();
    };
    EXPECT_LE(blob(bw.bytes) * 20, blob(page.dib));
}

// Blank sheets with every nuisance and sheets with one small mark, on each paper, as
// scanned (24 bits), made grey and made black and white: none is judged wrong. The gap
// between the two kinds in ink found is printed for the record.
TEST(BlankPage, BlankSheetsAreBlankAndSheetsWithOneSmallMarkAreNot)
{
    using testpage::Mark;
    double most = 0, least = 1e9;  // ink found on a blank page, on a marked one
    int judged = 0;
    for (testpage::Tint tint : {testpage::Tint::kWhite, testpage::Tint::kGrey, testpage::Tint::kYellowish}) {
        for (Mark mark : {Mark::kNone, Mark::kTextLine, Mark::kSignature, Mark::kStamp}) {
            for (uint32_t seed : {1u, 2u}) {
                const Bytes colour = testpage::MakeSheet({148, 210, seed == 2 ? 100.0 : 150.0, tint, mark, seed});
                Block grey, bw;
                ASSERT_EQ(Clean(PageCommand::kGrey, colour, grey).outcome, Outcome::kDone);
                ASSERT_EQ(Clean(PageCommand::kBlackAndWhite, colour, bw).outcome, Outcome::kDone);
                const bool marked = mark != Mark::kNone;
                for (const Bytes& page : {colour, grey.bytes, bw.bytes}) {
                    const imaging::BlankVerdict v = imaging::JudgeBlankPage(page.data(), page.size());
                    EXPECT_EQ(v.blank, !marked) << "tint " << int(tint) << ", mark " << int(mark) << ", seed " << seed
                                                << ", " << DibReadLayout(page.data()).bitCount << " bits: ink "
                                                << v.inkArea << " mm2 in " << v.features << " features";
                    ++judged;
                    (marked ? least : most) = marked ? std::min(least, v.inkArea) : std::max(most, v.inkArea);
                }
            }
        }
    }
    std::printf("%d pages judged; ink at most %.2f mm2 on a blank page, at least %.2f mm2 on a marked one (line at "
                "%.2f)\n", judged, most, least, imaging::kLeastInkArea);
    // A page that cannot be read is kept, never dropped as blank.
    Bytes cut = testpage::MakeSheet({60, 60}), compressed = cut;
    cut.resize(cut.size() / 2);
    compressed[16] = 1;  // run-length rows
    for (const Bytes& page : {cut, compressed})
        EXPECT_FALSE(imaging::JudgeBlankPage(page.data(), page.size()).readable);
}
}  // namespace
