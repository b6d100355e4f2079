// The JBIG2 encoder read back by a decoder nobody here wrote: jbig2dec.
#include "dib/dib_export.h"
#include "imaging/page_commands.h"
#include "imaging/test_page.h"
#include "dib/dib_builder.h"
#include "jbig2_check.h"
#include "tool_test.h"


namespace {
using Bytes = std::vector<uint8_t>;
using jbig2check::PageCase;

// Rows with the pixels one() sets drawn over bytes of 0x5A, whose bits past the width stay.
PageCase Drawn(const char* name, int width, int height, auto one)
{
    PageCase c{name, width, height, Bytes(size_t(width + 7) / 8 * height, 0x5A)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            c.rows[(width + 7) / 8 * y + x / 8] ^= uint8_t(((0x5A >> (7 - x % 8) & 1) ^ one(x, y)) << (7 - x % 8));
    return c;
}

PageCase Exported(const char* name, const Bytes& dib)
{
    DibExportPlan plan;
    EXPECT_TRUE(DibExportPlanFor(dib.data(), dib.size(), plan));
    PageCase c{name, plan.width, plan.height, Bytes(plan.rowBytes * plan.height)};
    for (int y = 0; y < plan.height; ++y)
        DibExportRow(plan, y, &c.rows[plan.rowBytes * y]);
    return c;
}

struct Block : imaging::ResultBlock {
    Bytes bytes;
    uint8_t* Allocate(size_t n) override { return (bytes.resize(n), bytes.data()); }
};

}  // namespace

std::vector<PageCase> jbig2check::Pages()
{
    Block text;
    const Bytes drawn = testpage::Make(testpage::Drawing{}).dib;
    RunPageCommand(imaging::PageCommand::kBlackAndWhite, drawn.data(), drawn.size(), text);  // else no plan below
    std::vector<PageCase> pages = {Exported("drawn text page", text.bytes)};
    for (const DibShape& kind : kEveryKindOfBitmap)
        if (kind.bitCount == 1)
            pages.push_back(Exported("1-bit bitmap kind", BuildDib(kind)));
    for (int width : {1, 7, 9, 33, 2481})
        pages.push_back(Drawn("noise", width, 37, [](int x, int y) { return (x * 2654435761u ^ y * 40503u) >> 7 & 1; }));
    pages.push_back(Drawn("all white", 70, 30, [](int, int) { return false; }));
    pages.push_back(Drawn("all black", 70, 30, [](int, int) { return true; }));
    pages.push_back(Drawn("alternating columns", 70, 30, [](int x, int) { return x % 2; }));
    pages.push_back(Drawn("checkerboard", 70, 30, [](int x, int y) { return (x + y) % 2; }));
    return pages;
}

namespace {

// jbig2dec for every page either way round. The export's own PDF takes the same pages to
// qpdf, poppler and MuPDF (export_formats_test.cpp).
TEST_F(ToolTest, Jbig2StreamsComeBackPixelForPixelFromJbig2dec)
{
    for (const PageCase& c : jbig2check::Pages())
        for (bool oneIsBlack : {true, false}) {
            SCOPED_TRACE(c.name + (", width " + std::to_string(c.width)) + (oneIsBlack ? ", 1 black" : ", 0 black"));
            Bytes stream;
            ASSERT_TRUE(EncodeJbig2(c.Page(oneIsBlack), stream));
            EXPECT_EQ(jbig2check::Difference(c.Page(oneIsBlack), stream), "");
        }
}
}  // namespace
