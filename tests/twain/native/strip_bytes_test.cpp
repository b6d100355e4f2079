// The memory-transfer arithmetic under the sanitizers: pages of every layout assembled
// from their strips and compared pixel by pixel, the strips a source may lie with, and
// the images no DIB is made for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dib/dib_bytes.h"
#include "twain/page_model.h"
#include "twain/strip_bytes.h"

using namespace strips;
using pagemodel::Pad;
using pagemodel::PageSpec;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr const char* kUnexpected = "unexpected mx.BytesPerRow";

// A DIB made as the memory transfer makes it.
Bytes NewDib(const ImagePlan& plan)
{
    Bytes dib(std::size_t(DibCreateBytes(plan.depth, plan.width, plan.length)));
    DibMemInit(dib.data(), plan.depth, plan.width, plan.length);
    return dib;
}

struct Assembly {
    ImagePlan plan;
    Bytes dib;
    Progress progress;
    std::vector<Next> nexts;
    std::vector<std::string> reports;
    bool rejected = false;
};

// Feeds the strips through a buffer of bufferLength bytes as the transfer does.
Assembly Assemble(const TW_IMAGEINFO& info, std::vector<pagemodel::Strip> strips, std::uint32_t bufferLength)
{
    Assembly a;
    EXPECT_EQ(PlanImage(info, &a.plan), Refusal::none);
    a.dib = NewDib(a.plan);
    a.progress = StartProgress(a.plan);
    Bytes buffer(bufferLength);
    for (pagemodel::Strip& s : strips) {
        std::memcpy(buffer.data(), s.bytes.data(), std::min<std::size_t>(s.bytes.size(), buffer.size()));
        const StripOutcome o = TakeStrip(a.dib.data(), a.dib.size(), info, a.plan, a.progress, s.mx, buffer.data(),
                                         bufferLength, s.last);
        if (o.report)
            a.reports.push_back(o.report);
        if (o.rejected) {
            a.rejected = true;
            break;
        }
        a.nexts.push_back(o.next);
        if (o.next != Next::more)
            break;
    }
    return a;
}

std::uint32_t LargestStrip(const std::vector<pagemodel::Strip>& strips)
{
    std::uint32_t n = 0;
    for (const auto& s : strips)
        n = std::max<std::uint32_t>(n, std::uint32_t(s.bytes.size()));
    return n;
}

struct Layout {
    const char* name;
    PageSpec page;
    int rowsPerStrip;
    int columnsPerStrip;  // 0: whole rows
    Pad pad;
    bool doneOnLast;
};

const Layout kLayouts[] = {
    {"bw_word", {TWPT_BW, 1, 1, false, 37, 11}, 4, 0, Pad::word, true},
    {"bw_byte", {TWPT_BW, 1, 1, false, 37, 11}, 3, 0, Pad::byte, true},
    {"bw_odd_rows", {TWPT_BW, 1, 1, false, 9, 5}, 2, 0, Pad::odd, false},
    {"bw_tiles_off_byte_boundaries", {TWPT_BW, 1, 1, false, 29, 6}, 4, 11, Pad::byte, true},
    {"gray4_word", {TWPT_GRAY, 4, 1, false, 13, 7}, 5, 0, Pad::word, true},
    {"gray4_odd_tiles", {TWPT_GRAY, 4, 1, false, 13, 7}, 2, 5, Pad::byte, false},
    {"gray8_word", {TWPT_GRAY, 8, 1, false, 13, 9}, 4, 0, Pad::word, true},
    {"gray8_byte", {TWPT_GRAY, 8, 1, false, 13, 9}, 9, 0, Pad::byte, false},
    {"gray8_odd", {TWPT_GRAY, 8, 1, false, 13, 9}, 1, 0, Pad::odd, true},
    {"gray16_carried_as_sent", {TWPT_GRAY, 16, 1, false, 7, 5}, 2, 0, Pad::byte, true},
    {"palette8_tiles", {TWPT_PALETTE, 8, 1, false, 21, 8}, 3, 8, Pad::word, true},
    {"rgb24_word", {TWPT_RGB, 24, 3, false, 10, 7}, 3, 0, Pad::word, true},
    {"rgb24_byte", {TWPT_RGB, 24, 3, false, 10, 7}, 2, 0, Pad::byte, false},
    {"rgb24_odd", {TWPT_RGB, 24, 3, false, 11, 6}, 4, 0, Pad::odd, true},
    {"rgb24_one_strip", {TWPT_RGB, 24, 3, false, 5, 4}, 4, 0, Pad::word, false},
    {"rgb24_tiles", {TWPT_RGB, 24, 3, false, 17, 9}, 4, 6, Pad::word, true},
    {"rgb24_rows_of_many_swapping_steps", {TWPT_RGB, 24, 3, false, 37, 5}, 2, 0, Pad::byte, true},
    {"rgb24_planar", {TWPT_RGB, 24, 3, true, 11, 7}, 3, 0, Pad::word, true},
    {"rgb24_planar_by_count", {TWPT_RGB, 24, 3, true, 6, 5}, 2, 0, Pad::byte, false},
    {"rgbx32_into_24", {TWPT_RGB, 32, 4, false, 9, 6}, 2, 0, Pad::word, true},
    {"rgba32_planar_alpha_dropped", {TWPT_RGB, 32, 4, true, 9, 4}, 4, 0, Pad::word, false},
};

void PrintTo(const Layout& l, std::ostream* os)
{
    *os << l.name;
}

class StripLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(StripLayouts, AssembleThePageExactly)
{
    const Layout& l = GetParam();
    const auto strips = pagemodel::Strips(l.page, l.rowsPerStrip, l.columnsPerStrip, l.pad, l.doneOnLast);
    const Assembly a = Assemble(pagemodel::Info(l.page), strips, LargestStrip(strips));

    EXPECT_FALSE(a.rejected);
    ASSERT_EQ(a.nexts.size(), strips.size()) << "every strip is taken, and no more";
    EXPECT_EQ(a.nexts.back(), Next::done);
    EXPECT_EQ(std::count(a.nexts.begin(), a.nexts.end(), Next::more), std::ptrdiff_t(strips.size() - 1));
    // Odd row lengths are reported (the report itself shows once per run) and assembled.
    if (l.pad == Pad::odd)
        EXPECT_EQ(a.reports, std::vector<std::string>(strips.size(), kUnexpected));
    else
        EXPECT_TRUE(a.reports.empty());
    EXPECT_EQ(pagemodel::CompareDib(l.page, a.dib.data(), a.dib.size()), "");
}

INSTANTIATE_TEST_SUITE_P(Layouts, StripLayouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// Strips that do not fit the image or the buffer.
struct Lie {
    const char* name;
    void (*change)(TW_IMAGEMEMXFER& mx);
    std::uint32_t bufferLength;  // 0: exactly the strip
    const char* report;
    bool rejected;
};

const Lie kLies[] = {
    {"offset_below_the_image", [](TW_IMAGEMEMXFER& mx) { mx.YOffset = 13; }, 0, "mx.YOffset > info.ImageLength!",
     true},
    {"offset_right_of_the_image", [](TW_IMAGEMEMXFER& mx) { mx.XOffset = 11; }, 0,
     "mx.XOffset + mx.Columns > info.ImageWidth", true},
    {"huge_offset_does_not_wrap", [](TW_IMAGEMEMXFER& mx) { mx.XOffset = 0xFFFFFFF0u; }, 0,
     "mx.XOffset + mx.Columns > info.ImageWidth", true},
    {"rows_beyond_the_buffer", [](TW_IMAGEMEMXFER& mx) { mx.Rows = 5; mx.BytesWritten = TWON_DONTCARE32; }, 0,
     "mx.BytesPerRow * mx.Rows > mx.Memory.Length", true},
    {"row_length_beyond_the_buffer", [](TW_IMAGEMEMXFER& mx) { mx.BytesPerRow = 0x40000000u; }, 0,
     "mx.BytesPerRow * mx.Rows > mx.Memory.Length", true},
    {"more_than_written", [](TW_IMAGEMEMXFER& mx) { mx.BytesWritten = 40; }, 256,
     "mx.BytesPerRow * mx.Rows > mx.BytesWritten", true},
    {"short_rows_reach_past_the_bytes", [](TW_IMAGEMEMXFER& mx) { mx.BytesPerRow = 20; mx.BytesWritten = 60; }, 0,
     "mx.Rows of mx.Columns pixels reach past the strip's bytes", true},
    {"written_unknown_is_bounded_by_the_buffer", [](TW_IMAGEMEMXFER& mx) { mx.BytesWritten = TWON_DONTCARE32; }, 0,
     nullptr, false},
    {"strip_past_the_bottom_is_cut", [](TW_IMAGEMEMXFER& mx) { mx.YOffset = 10; }, 0, nullptr, false},
    {"strip_past_the_right_edge_is_cut", [](TW_IMAGEMEMXFER& mx) { mx.XOffset = 4; }, 0, nullptr, false},
};

void PrintTo(const Lie& l, std::ostream* os)
{
    *os << l.name;
}

class StripLies : public ::testing::TestWithParam<Lie> {};

TEST_P(StripLies, AreRejectedOrCutWithoutReadingOutsideTheBuffer)
{
    const Lie& lie = GetParam();
    const PageSpec page{TWPT_RGB, 24, 3, false, 10, 12};
    auto strips = pagemodel::Strips(page, 3, 0, Pad::word, false);
    pagemodel::Strip s = strips[0];  // 3 rows of 32 bytes
    lie.change(s.mx);
    const std::uint32_t length = lie.bufferLength ? lie.bufferLength : std::uint32_t(s.bytes.size());
    s.bytes.resize(length);  // the buffer has exactly this many bytes: ASan sees any overrun
    const Assembly a = Assemble(pagemodel::Info(page), {s}, length);
    EXPECT_EQ(a.rejected, lie.rejected);
    EXPECT_EQ(a.reports, lie.report ? std::vector<std::string>{lie.report} : std::vector<std::string>{});
    if (!lie.rejected)
        EXPECT_EQ(a.nexts, std::vector<Next>{Next::more});
}

INSTANTIATE_TEST_SUITE_P(Lies, StripLies, ::testing::ValuesIn(kLies),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StripClamp, CutsToTheImageAndCountsOnlyWhatFits)
{
    const PageSpec page{TWPT_GRAY, 8, 1, false, 10, 12};
    const TW_IMAGEINFO info = pagemodel::Info(page);
    TW_IMAGEMEMXFER mx{};
    mx.XOffset = 4, mx.Columns = 100, mx.YOffset = 10, mx.Rows = 7;
    ClampStrip(info, mx);
    EXPECT_EQ(std::uint32_t{mx.Columns}, 6u);
    EXPECT_EQ(std::uint32_t{mx.Rows}, 2u);
    // An offset beyond the image keeps its count, for the check to refuse.
    mx.YOffset = 13, mx.Rows = 7;
    ClampStrip(info, mx);
    EXPECT_EQ(std::uint32_t{mx.Rows}, 7u);

    // A strip counting one row too many (before the cut) is stored one row short.
    ImagePlan plan;
    ASSERT_EQ(PlanImage(info, &plan), Refusal::none);
    TW_IMAGEMEMXFER over{};
    over.Columns = 10, over.Rows = 4, over.YOffset = 9, over.BytesPerRow = 12, over.BytesWritten = 48;
    StripCheck c = CheckStrip(plan, over, 10, 48);
    EXPECT_EQ(c.action, Action::store);
    EXPECT_EQ(c.rows, 3u);
    over.Rows = 5, over.BytesWritten = 60;
    EXPECT_EQ(CheckStrip(plan, over, 10, 60).action, Action::reject);
}

TEST(StripProgress, PlanesEndByCountAndEmptyStripsEndTheLoop)
{
    const PageSpec page{TWPT_RGB, 24, 3, true, 4, 2};
    ImagePlan plan;
    ASSERT_EQ(PlanImage(pagemodel::Info(page), &plan), Refusal::none);
    Progress p = StartProgress(plan);
    EXPECT_EQ(Advance(plan, p, 5, false), Next::more);
    EXPECT_EQ(Advance(plan, p, 3, false), Next::more);  // plane 0 complete
    EXPECT_EQ(p.plane, 1);
    EXPECT_EQ(p.remaining, 8);
    EXPECT_EQ(Advance(plan, p, 8, false), Next::more);
    EXPECT_EQ(Advance(plan, p, 100, false), Next::done);  // more than asked for still ends

    // A source that answers strips without pixels forever is stopped, however patient.
    p = StartProgress(plan);
    int calls = 0;
    Next n = Next::more;
    while (n == Next::more && calls < 10 * kMaxEmptyStrips) {
        n = Advance(plan, p, 0, false);
        ++calls;
    }
    EXPECT_EQ(n, Next::stalled);
    EXPECT_EQ(calls, kMaxEmptyStrips);
    // Pixels in between start the count again; TWRC_XFERDONE ends at once.
    p = StartProgress(plan);
    for (int i = 0; i < kMaxEmptyStrips - 1; ++i)
        ASSERT_EQ(Advance(plan, p, 0, false), Next::more);
    EXPECT_EQ(Advance(plan, p, 1, false), Next::more);
    EXPECT_EQ(Advance(plan, p, 0, false), Next::more);
    EXPECT_EQ(Advance(plan, p, 0, true), Next::done);
}

struct Refused {
    const char* name;
    void (*change)(TW_IMAGEINFO& info);
    Refusal refusal;
    const char* message;
};

const Refused kRefused[] = {
    {"unknown_length", [](TW_IMAGEINFO& i) { i.ImageLength = -1; }, Refusal::unknownLength,
     "ACQR: Unable to transfer unknown length image."},
    {"compressed", [](TW_IMAGEINFO& i) { i.Compression = TWCP_PACKBITS; }, Refusal::compressed,
     "ACQR: Unable to transfer compressed memory data."},
    {"cmyk", [](TW_IMAGEINFO& i) { i.PixelType = TWPT_CMYK; }, Refusal::exoticPixelType,
     "ACQR: Unable to transfer exotic pixel type: CMY,YUV,XYZ,..."},
    {"negative_pixel_type", [](TW_IMAGEINFO& i) { i.PixelType = -2; }, Refusal::exoticPixelType,
     "ACQR: Unable to transfer exotic pixel type: CMY,YUV,XYZ,..."},
    {"width_0", [](TW_IMAGEINFO& i) { i.ImageWidth = 0; }, Refusal::badSize,
     "ACQR: Unable to transfer an image of 0 x 5 pixels."},
    {"length_0", [](TW_IMAGEINFO& i) { i.ImageLength = 0; }, Refusal::badSize,
     "ACQR: Unable to transfer an image of 7 x 0 pixels."},
    {"length_minus_2", [](TW_IMAGEINFO& i) { i.ImageLength = -2; }, Refusal::badSize,
     "ACQR: Unable to transfer an image of 7 x -2 pixels."},
    {"width_unknown", [](TW_IMAGEINFO& i) { i.ImageWidth = -1; }, Refusal::badSize,
     "ACQR: Unable to transfer an image of -1 x 5 pixels."},
    {"no_bits", [](TW_IMAGEINFO& i) { i.BitsPerPixel = 0; }, Refusal::noBits,
     "ACQR: Unable to transfer an image of 0 bits per pixel in 3 samples."},
    {"planar_without_samples", [](TW_IMAGEINFO& i) { i.Planar = 1, i.SamplesPerPixel = 0; }, Refusal::badSamples,
     "ACQR: Unable to transfer planar data of 0 samples per pixel."},
    {"planar_nine_samples", [](TW_IMAGEINFO& i) { i.Planar = 1, i.SamplesPerPixel = 9; }, Refusal::badSamples,
     "ACQR: Unable to transfer planar data of 9 samples per pixel."},
    {"planar_fewer_bits_than_planes", [](TW_IMAGEINFO& i) { i.Planar = 1, i.BitsPerPixel = 2; }, Refusal::noBits,
     "ACQR: Unable to transfer an image of 2 bits per pixel in 3 samples."},
    {"pixel_count_overflows", [](TW_IMAGEINFO& i) { i.ImageWidth = 0x10000, i.ImageLength = 0x10000; },
     Refusal::tooLarge, "ACQR: Image too large to transfer: 65536 x 65536 pixels of 24 bits."},
    {"bytes_overflow", [](TW_IMAGEINFO& i) { i.ImageWidth = 0x7FFFFFFF, i.ImageLength = 3; }, Refusal::tooLarge,
     "ACQR: Image too large to transfer: 2147483647 x 3 pixels of 24 bits."},
};

void PrintTo(const Refused& r, std::ostream* os)
{
    *os << r.name;
}

class PlanRefusals : public ::testing::TestWithParam<Refused> {};

TEST_P(PlanRefusals, NameTheirReason)
{
    TW_IMAGEINFO info = pagemodel::Info(PageSpec{TWPT_RGB, 24, 3, false, 7, 5});
    GetParam().change(info);
    ImagePlan plan;
    EXPECT_EQ(PlanImage(info, &plan), GetParam().refusal);
    char text[256];
    FormatRefusal(GetParam().refusal, info, text, sizeof text);
    EXPECT_STREQ(text, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Refusals, PlanRefusals, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlanImage, DepthsAreWhatTheDibCanHold)
{
    const struct {
        TW_INT16 bits, samples;
        bool planar;
        int depth, planes, planeBits;
    } cases[] = {
        {1, 1, false, 1, 1, 1},  {2, 1, false, 4, 1, 2},   {8, 1, false, 8, 1, 8},   {16, 1, false, 16, 1, 16},
        {24, 3, false, 24, 1, 24}, {24, 3, true, 24, 3, 8}, {32, 4, false, 24, 1, 32}, {48, 3, true, 48, 3, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        TW_IMAGEINFO info = pagemodel::Info(PageSpec{TWPT_RGB, c.bits, c.samples, c.planar, 3, 2});
        ImagePlan plan;
        ASSERT_EQ(PlanImage(info, &plan), Refusal::none);
        EXPECT_EQ(plan.depth, c.depth);
        EXPECT_EQ(plan.planes, c.planes);
        EXPECT_EQ(plan.planeBits, c.planeBits);
        EXPECT_EQ(plan.pixels, 6);
    }
}

// Fewer colours than the table of the depth: the table keeps its size (the rows stay
// behind it), entries are set by Index, and the others keep the gray ramp.
TEST(Palette, FillsEntriesByIndexAndKeepsTheTable)
{
    ImagePlan plan;
    ASSERT_EQ(PlanImage(pagemodel::Info(PageSpec{TWPT_PALETTE, 8, 1, false, 4, 2}), &plan), Refusal::none);
    Bytes dib = NewDib(plan);
    const std::int64_t rowsAt = DibBitsOffset(DibReadLayout(dib.data()));
    TW_PALETTE8 palette{};
    palette.NumColors = 3;
    palette.Colors[0] = TW_ELEMENT8{200, 1, 2, 3};
    palette.Colors[1] = TW_ELEMENT8{5, 10, 20, 30};
    palette.Colors[2] = TW_ELEMENT8{0, 7, 8, 9};
    palette.Colors[3] = TW_ELEMENT8{1, 99, 99, 99};  // beyond NumColors: not used
    EXPECT_EQ(ApplyPalette(dib.data(), dib.size(), palette), 3);
    const DibLayout layout = DibReadLayout(dib.data());
    EXPECT_EQ(layout.colorCount, 256u);
    EXPECT_EQ(std::int64_t(DibBitsOffset(layout)), rowsAt);
    const std::uint8_t* table = dib.data() + 40;
    auto entry = [&](int i) { return Bytes(table + 4 * i, table + 4 * i + 4); };
    EXPECT_EQ(entry(200), (Bytes{3, 2, 1, 0}));  // blue, green, red, reserved
    EXPECT_EQ(entry(5), (Bytes{30, 20, 10, 0}));
    EXPECT_EQ(entry(0), (Bytes{9, 8, 7, 0}));
    EXPECT_EQ(entry(1), (Bytes{1, 1, 1, 0}));  // the gray ramp

    // NumColors above 256 is cut, and indices beyond a 4-bit table are skipped.
    ASSERT_EQ(PlanImage(pagemodel::Info(PageSpec{TWPT_PALETTE, 4, 1, false, 4, 2}), &plan), Refusal::none);
    Bytes small = NewDib(plan);
    TW_PALETTE8 wide{};
    wide.NumColors = 0xFFFF;
    for (int i = 0; i < 256; ++i)
        wide.Colors[i] = TW_ELEMENT8{std::uint8_t(255 - i), 1, 2, 3};
    EXPECT_EQ(ApplyPalette(small.data(), small.size(), wide), 16);
    EXPECT_EQ(DibReadLayout(small.data()).colorCount, 16u);
}

TEST(CrLf, TurnsLineFeedsIntoPairsWithinTheBuffer)
{
    char out[16];
    EXPECT_EQ(ToCrLf("a\nb\n\nc", out, sizeof out), 9u);
    EXPECT_STREQ(out, "a\r\nb\r\n\r\nc");
    // A pair that does not fit is left out whole; the text is always terminated.
    char tight[5];
    EXPECT_EQ(ToCrLf("abc\nd", tight, sizeof tight), 3u);
    EXPECT_STREQ(tight, "abc");
}

}  // namespace
