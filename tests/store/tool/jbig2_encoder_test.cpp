// The JBIG2 encoder read back by decoders nobody here wrote: jbig2dec, and poppler, MuPDF, qpdf through a PDF.
#include "dib/dib_export.h"
#include "imaging/page_commands.h"
#include "imaging/test_page.h"
#include "jbig2_check.h"
#include "png_check.h"
#include "tool_test.h"

#include <regex>

namespace {
using Bytes = std::vector<uint8_t>;
using jbig2check::PageCase;

// Rows with the pixels one() sets drawn over bytes of 0x5A, whose bits past the width stay.
PageCase Drawn(const char* name, int width, int height, auto one, bool inPdf = false)
{
    PageCase c{name, width, height, Bytes(size_t(width + 7) / 8 * height, 0x5A), inPdf};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            c.rows[(width + 7) / 8 * y + x / 8] ^= uint8_t(((0x5A >> (7 - x % 8) & 1) ^ one(x, y)) << (7 - x % 8));
    return c;
}

PageCase Exported(const char* name, const Bytes& dib, bool inPdf = false)
{
    DibExportPlan plan;
    EXPECT_TRUE(DibExportPlanFor(dib.data(), dib.size(), plan));
    PageCase c{name, plan.width, plan.height, Bytes(plan.rowBytes * plan.height), inPdf};
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
    std::vector<PageCase> pages = {Exported("drawn text page", text.bytes, true)};
    for (const DibShape& kind : kEveryKindOfBitmap)
        if (kind.bitCount == 1)
            pages.push_back(Exported("1-bit bitmap kind", BuildDib(kind)));
    for (int width : {1, 7, 9, 33, 2481})
        pages.push_back(Drawn("noise", width, 37, [](int x, int y) { return (x * 2654435761u ^ y * 40503u) >> 7 & 1; },
                              width == 33));
    pages.push_back(Drawn("all white", 70, 30, [](int, int) { return false; }));
    pages.push_back(Drawn("all black", 70, 30, [](int, int) { return true; }, true));
    pages.push_back(Drawn("alternating columns", 70, 30, [](int x, int) { return x % 2; }));
    pages.push_back(Drawn("checkerboard", 70, 30, [](int x, int y) { return (x + y) % 2; }));
    return pages;
}

namespace {

// A PDF of one page showing the stream a point per pixel.
std::string Pdf(const Jbig2Page& page, const Bytes& stream)
{
    const std::string w = std::to_string(page.width), h = std::to_string(page.height);
    const std::string show = "q " + w + " 0 0 " + h + " 0 0 cm /I Do Q", objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h + "] /Contents 4 0 R /Resources << /XObject "
        "<< /I 5 0 R >> >> >>", "<< /Length " + std::to_string(show.size()) + " >> stream\n" + show + "\nendstream",
        "<< /Subtype /Image /Width " + w + " /Height " + h + " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter "
        "/JBIG2Decode /Length " + std::to_string(stream.size()) + " >> stream\n" +
            std::string(stream.begin(), stream.end()) + "\nendstream"};
    std::string pdf = "%PDF-1.5\n", xref = "xref\n0 6\n0000000000 65535 f \n";
    for (size_t i = 0; i < std::size(objects); ++i) {
        xref += std::string(10 - std::to_string(pdf.size()).size(), '0') + std::to_string(pdf.size()) + " 00000 n \n";
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    return pdf + xref + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(pdf.size()) + "\n%%EOF\n";
}

// Whether a PNG file shows the page, k pixels a side to each of its pixels.
::testing::AssertionResult Shows(const Jbig2Page& page, const Bytes& png, size_t k)
{
    pngcheck::Decoded d;
    if (!pngcheck::Decode(png, d) || d.rows.size() != page.height * k ||
        d.rows[0].size() != page.width * k * d.channels)
        return ::testing::AssertionFailure() << "no picture of the page's size";
    for (size_t y = 0; y < d.rows.size(); ++y)
        for (size_t x = 0; x < d.rows[y].size() / d.channels; ++x)
            if (d.rows[y][x * d.channels] != (jbig2check::Black(page, uint32_t(x / k), uint32_t(y / k)) ? 0 : 255))
                return ::testing::AssertionFailure() << "pixel " << x << ", " << y << " differs";
    return ::testing::AssertionSuccess();
}

// jbig2dec for every page either way round; for a few, qpdf, and poppler and MuPDF extracting the
// image and drawing the page at 288 dpi, four pixels a side to a point (at 72 poppler shades edges).
TEST_F(ToolTest, Jbig2StreamsComeBackPixelForPixelFromEveryReader)
{
    const std::vector<std::tuple<std::string, std::string, size_t>> readers = {
        {"pdfimages -png page.pdf poppler", "poppler-000.png", 1}, {"mutool extract page.pdf", "image-0005.png", 1},
        {"pdftoppm -r 288 -gray -png page.pdf poppler", "poppler-1.png", 4},
        {"mutool draw -q -r 288 -c gray -o mupdf.png page.pdf", "mupdf.png", 4}};
    for (const PageCase& c : jbig2check::Pages())
        for (bool oneIsBlack : {true, false}) {
            SCOPED_TRACE(c.name + (", width " + std::to_string(c.width)) + (oneIsBlack ? ", 1 black" : ", 0 black"));
            Bytes stream;
            ASSERT_TRUE(EncodeJbig2(c.Page(oneIsBlack), stream));
            EXPECT_EQ(jbig2check::Difference(c.Page(oneIsBlack), stream), "");
            if (!c.inPdf || oneIsBlack)
                continue;
            const std::string pdf = Pdf(c.Page(oneIsBlack), stream);
            Write("page.pdf", Bytes(pdf.begin(), pdf.end()));
            EXPECT_EQ(RunCommand({"qpdf", "--check", Path("page.pdf")}, {}).exitCode, 0);
            for (const auto& [command, picture, scale] : readers) {
                ToolRun run = RunCommand({"sh", "-c", "cd '" + Dir() + "' && " + command}, {});
                EXPECT_EQ(run.exitCode, 0) << command;  // and nothing said but MuPDF's note on every run
                EXPECT_EQ(std::regex_replace(run.err, std::regex("warning: ICC support is not available\n"), ""), "");
                EXPECT_TRUE(Shows(c.Page(oneIsBlack), Read(picture), scale)) << command;
            }
        }
}
}  // namespace
