// Exported PNG and PDF files read by independent readers (libpng, qpdf, pdfimages,
// pdfinfo), from the Linux tool and from the Windows tool under Wine, whose files are
// checked here with the same readers.
#include "png_check.h"
#include "tool_test.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>

namespace {
using storefiles::Bytes;
using namespace pngcheck;

Bytes FileOf(const Bytes& dib)
{
    Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    PutLE(file, 2, uint32_t(14 + dib.size()), 4);
    PutLE(file, 10, 14 + uint32_t(DibBitsOffset(DibReadLayout(dib.data()))), 4);
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

Bytes Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The Linux tool, and the Windows tool where the test run names its build.
std::vector<std::vector<std::string>> Tools()
{
    std::vector<std::vector<std::string>> tools = {{PAGOREX_PROGRAM}};
    if (const char* bin = std::getenv("PAGOREX_WINDOWS_BIN"))
        tools.push_back({std::getenv("PAGOREX_WINE_RUN"), std::string(bin) + "/pagorex-store.exe"});
    return tools;
}

// A page of each kind the writers treat apart, with the resolution its header gives and
// the one the formats should carry (0: none, a PDF then takes 300 dpi).
struct ExportCase {
    Bytes dib;
    int32_t xppm, yppm;  // as the header gives them
    uint32_t xWant, yWant;
};

class ExportFormats : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        Bytes grey = BuildDib({19, 6, 8}), black = BuildDib({33, -10, 1}), white = BuildDib({17, 9, 1});
        for (uint32_t i = 0; i < 256; ++i)
            PutLE(grey, 40 + 4 * i, i * 0x010101, 4);
        PutLE(black, 44, 0xFFFFFF, 4), PutLE(white, 40, 0xFFFFFF, 4), PutLE(white, 44, 0, 4);
        // A version 4 header naming an alpha field that GDI left zero everywhere: no alpha.
        Bytes noAlpha = BuildDib({6, 4, 32, 108, 3});
        PutLE(noAlpha, 40, 0xFF0000, 4), PutLE(noAlpha, 44, 0xFF00, 4), PutLE(noAlpha, 48, 0xFF, 4);
        PutLE(noAlpha, 52, 0xFF000000u, 4);
        for (size_t at = DibBitsOffset(DibReadLayout(noAlpha.data())) + 3; at < noAlpha.size(); at += 4)
            noAlpha[at] = 0;
        cases = {{BuildDib({37, 23, 24}), 11811, 11811, 11811, 11811},
                 {black, 0, 0, 0, 0},
                 {BuildDib({9, 5, 8, 40, 0, 0, 16}), 7874, 7874, 7874, 7874},
                 {grey, 3780, 3780, 3780, 3780},
                 {BuildDib({2, 2, 48}), 11811, 11811, 11811, 11811},
                 {white, 2835, 2835, 2835, 2835},
                 {noAlpha, 3780, 3780, 3780, 3780},
                 {BuildDib({20, 20, 24}), 7874, 0, 7874, 7874},             // one axis given: both
                 {BuildDib({8, 6, 24}), 2000000000, 2000000000, 0, 0},     // absurd
                 {BuildDib({8, 6, 4}), 300, 300, 0, 0},                    // dots per inch as pels
                 {BuildDib({2100, 3, 1}), 394, 394, 394, 394}};           // 15,120 pt at 10 dpi
        for (size_t i = 0; i < cases.size(); ++i) {
            PutLE(cases[i].dib, 24, uint32_t(cases[i].xppm), 4), PutLE(cases[i].dib, 28, uint32_t(cases[i].yppm), 4);
            store.Add(int32_t(10 + i), FileOf(cases[i].dib));
        }
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
    }
    std::vector<ExportCase> cases;
    storefiles::StoreLayout store;
};

double Dpi(uint32_t pelsPerMeter)
{
    return pelsPerMeter ? pelsPerMeter * 0.0254 : 300;
}

TEST_F(ExportFormats, PngAndPdfFilesHoldTheStoredPixelsAtTheirResolution)
{
    for (const auto& tool : Tools()) {
        SCOPED_TRACE(tool.back());
        std::filesystem::remove_all(Path("out"));
        std::filesystem::create_directory(Path("out"));
        ToolRun pngs = RunCommand(tool, {"export", Dir(), "--all", Path("out"), "--format", "png"});
        ASSERT_EQ(pngs.exitCode, 0) << pngs.err;
        for (size_t i = 0; i < cases.size(); ++i) {
            Decoded d;
            ASSERT_TRUE(Decode(Slurp(Path("out/" + std::to_string(10 + i) + ".png")), d)) << i;
            EXPECT_TRUE(SamePixels(cases[i].dib, d)) << i;
            EXPECT_NE(d.colourType, 6) << i << ": no alpha field in use";
            EXPECT_EQ(d.xppm, cases[i].xWant) << i;
            EXPECT_EQ(d.yppm, cases[i].yWant) << i;
        }
        // The last record first, then the others in their order.
        std::vector<std::string> args = {"export", Dir(), std::to_string(9 + cases.size())};
        for (size_t i = 0; i + 1 < cases.size(); ++i)
            args.push_back(std::to_string(10 + i));
        args.insert(args.end(), {"--into", Path("out/all.pdf")});
        ToolRun pdf = RunCommand(tool, args);
        ASSERT_EQ(pdf.exitCode, 0) << pdf.err;
        EXPECT_EQ(RunCommand({"qpdf", "--check", Path("out/all.pdf")}, {}).exitCode, 0);
        ASSERT_EQ(RunCommand({"pdfimages", "-png", Path("out/all.pdf"), Path("out/image")}, {}).exitCode, 0);
        ToolRun info = RunCommand({"pdfinfo", "-f", "1", "-l", "99", Path("out/all.pdf")}, {});
        std::regex size(R"(Page +(\d+) size: +([\d.]+) x ([\d.]+) pts)");
        size_t pages = 0;
        for (auto m = std::sregex_iterator(info.out.begin(), info.out.end(), size); m != std::sregex_iterator(); ++m) {
            const int page = std::stoi((*m)[1]);
            const ExportCase& c = cases[(page + cases.size() - 2) % cases.size()];
            const DibLayout l = DibReadLayout(c.dib.data());
            // Poppler gives a page's size in units of its /UserUnit.
            const double unit = std::ceil(l.width * 72 / Dpi(c.xWant) / 14400);
            EXPECT_NEAR(std::stod((*m)[2]), l.width * 72 / Dpi(c.xWant) / unit, 1) << "page " << page;
            EXPECT_NEAR(std::stod((*m)[3]), std::abs(l.height) * 72 / Dpi(c.yWant) / unit, 1) << "page " << page;
            Decoded d;
            char name[32];
            std::snprintf(name, sizeof name, "out/image-%03zu.png", pages);
            ASSERT_TRUE(Decode(Slurp(Path(name)), d));
            EXPECT_TRUE(SamePixels(c.dib, d, true)) << "page " << page;
            ++pages;
        }
        EXPECT_EQ(pages, cases.size()) << info.out;
        const Bytes file = Slurp(Path("out/all.pdf"));
        EXPECT_NE(std::string(file.begin(), file.end()).find("/UserUnit 2 "), std::string::npos)
            << "the page past 14,400 points, in units of 2 points";
        // The page whose alpha field is zero everywhere is drawn, not left white.
        ASSERT_EQ(RunCommand({"pdftoppm", "-f", "8", "-l", "8", "-r", "96", "-gray", Path("out/all.pdf"),
                              Path("out/alpha")}, {}).exitCode, 0);
        Bytes drawn = Slurp(Path("out/alpha-08.pgm"));
        ASSERT_GT(drawn.size(), 24u);
        EXPECT_LT(*std::min_element(drawn.end() - 24, drawn.end()), 200) << "some pixel is not white";
    }
}

// Record 50 is a document of the first three pages above, its page 2 stored last: every
// way of taking it out gives its pages in order, each pixel for pixel.
TEST_F(ExportFormats, EveryPageOfADocumentGoesOutInOrder)
{
    for (uint32_t page : {1u, 3u, 2u}) {
        store.Add(50, FileOf(cases[page - 1].dib));
        storefiles::WriteMark(store.records.back(), {9, page, 3});
    }
    store.Rewrite();
    Write("pagorex.idx", store.index);
    Write("pagorex.dat", store.data);
    // A PDF whose pages hold the pixels of those cases, in order; its page labels.
    auto pdfOf = [&](const std::string& name, const std::vector<size_t>& expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RunCommand({"qpdf", "--check", Path(name)}, {}).exitCode, 0);
        EXPECT_EQ(RunCommand({"pdfimages", "-png", Path(name), Path(name)}, {}).exitCode, 0);
        for (size_t i = 0; i <= expected.size(); ++i) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "-%03zu.png", i);
            Decoded d;
            const bool found = Decode(Slurp(Path(name + suffix)), d);
            EXPECT_EQ(found, i < expected.size()) << i;
            if (found && i < expected.size())
                EXPECT_TRUE(SamePixels(cases[expected[i]].dib, d, true)) << i;
        }
        std::string json = RunCommand({"qpdf", "--json", "--json-key=pagelabels", "--json-key=outlines", Path(name)},
                                      {}).out, labels;
        std::regex label(R"re("u:([^"]*)")re");
        for (auto m = std::sregex_iterator(json.begin(), json.end(), label); m != std::sregex_iterator(); ++m)
            labels += (labels.empty() ? "" : " ") + (*m)[1].str();
        EXPECT_NE(json.find("\"title\": \"Record 50, page 2 of 3\""), std::string::npos) << json;
        return labels;
    };
    for (const auto& tool : Tools()) {
        SCOPED_TRACE(tool.back());
        std::filesystem::remove_all(Path("out"));
        std::filesystem::create_directory(Path("out"));
        ASSERT_EQ(RunCommand(tool, {"export", Dir(), "50", Path("out/doc.pdf"), "--format", "pdf"}).exitCode, 0);
        EXPECT_EQ(pdfOf("out/doc.pdf", {0, 1, 2}), "50-1 50-2 50-3");
        ASSERT_EQ(RunCommand(tool, {"export", Dir(), "50", Path("out/doc.png"), "--format", "png"}).exitCode, 0);
        ASSERT_EQ(RunCommand(tool, {"export", Dir(), "50", Path("out/two"), "--format", "png", "--page", "2"}).exitCode,
                  0);
        for (auto [file, page] : {std::pair{"out/doc-p1.png", 0}, {"out/doc-p2.png", 1}, {"out/doc-p3.png", 2},
                                  {"out/two", 1}}) {
            Decoded d;
            ASSERT_TRUE(Decode(Slurp(Path(file)), d)) << file;
            EXPECT_TRUE(SamePixels(cases[page].dib, d)) << file;
        }
        ASSERT_EQ(RunCommand(tool, {"export", Dir(), "10", "50", "11", "--into", Path("out/mix.pdf")}).exitCode, 0);
        EXPECT_EQ(pdfOf("out/mix.pdf", {0, 0, 1, 2, 1}), "10 50-1 50-2 50-3 11");
    }
}

// A PDF of thousands of pages is written one image at a time.
TEST_F(ExportFormats, APdfOfTwoThousandPagesTakesTheMemoryOfOnePage)
{
    Bytes index, data, page = FileOf(BuildDib({64, 48, 24}));  // 2000 of them: 18 MB, should the tool hold them all
    for (int32_t record = 1; record <= 2000; ++record)
        storefiles::AddRecord(index, data, record, page, true);
    Write("pagorex.idx", index);
    Write("pagorex.dat", data);
    ToolRun one = RunTool({"export", Dir(), "1", Path("one.pdf"), "--format", "pdf"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ToolRun all = RunTool({"export", Dir(), "--all", "--into", Path("all.pdf")});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_LE(all.maxRssKb, one.maxRssKb + 4096) << "one page: " << one.maxRssKb << " KB";
    EXPECT_NE(RunCommand({"pdfinfo", Path("all.pdf")}, {}).out.find("Pages:           2000"), std::string::npos);
}
}  // namespace

// Address space cut at sizes where reading a long index runs out of memory at one point or
// another: the tool finishes, or says why it stopped; it never aborts.
TEST_F(ToolTest, RunningOutOfMemoryEndsWithAReasonNotAnAbort)
{
    Bytes index;
    for (int32_t record = 1; record <= 200000; ++record) {
        storefiles::Record r;
        r.deleted = 1, r.recordNumber = record;
        Bytes encoded = storefiles::EncodeRecord(r);
        index.insert(index.end(), encoded.begin(), encoded.end());
    }
    Write("pagorex.idx", index);
    Write("pagorex.dat", {});
    for (const char* limit : {"--as=8000000", "--as=16000000", "--as=24000000"})
        for (const char* command : {"list", "verify"}) {
            ToolRun run = RunCommand({"prlimit", limit, PAGOREX_PROGRAM}, {command, Dir()});
            SCOPED_TRACE(std::string(command) + " " + limit);
            EXPECT_NE(run.exitCode, -1) << run.err;
            if (run.exitCode == 2)
                EXPECT_NE(run.err.find(std::string(command) + " stopped: not enough memory"), std::string::npos) << run.err;
        }
}
