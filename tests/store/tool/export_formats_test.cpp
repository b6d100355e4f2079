// Exported PNG and PDF files read by independent readers (libpng, qpdf, pdfimages,
// pdfinfo), from the Linux tool and from the Windows tool under Wine, whose files are
// checked here with the same readers.
#include "jbig2_check.h"
#include "png_check.h"
#include "tool_test.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

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
    bool alpha = false;  // an alpha field in use
};

// One of the JBIG2 encoder's test pages as a 1-bit bitmap at 72 dpi, a pixel to a point; its
// 1 bits are black where oneIsBlack, else white.
ExportCase Bitonal(const jbig2check::PageCase& page, bool oneIsBlack)
{
    Bytes dib = BuildDib({page.width, page.height, 1});
    PutLE(dib, 40, oneIsBlack ? 0xFFFFFF : 0, 4), PutLE(dib, 44, oneIsBlack ? 0 : 0xFFFFFF, 4);
    const size_t row = size_t(page.width + 7) / 8;
    for (int y = 0; y < page.height; ++y)
        std::copy_n(&page.rows[row * y], row, &dib[48 + size_t(RowBytes(1, page.width)) * (page.height - 1 - y)]);
    return {dib, 2835, 2835, 2835, 2835};
}

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
        // 1-bit pages, coded as JBIG2, for the decoders that draw them too.
        for (const DibShape& kind : kEveryKindOfBitmap)
            if (kind.bitCount == 1)
                cases.push_back({BuildDib(kind), 2835, 2835, 2835, 2835});
        for (const jbig2check::PageCase& page : jbig2check::Pages())
            cases.push_back(Bitonal(page, cases.size() % 2));
        Bytes alpha = BuildDib({6, 4, 32, 108, 3});  // the same fields, its alpha bytes mostly not zero
        std::copy(noAlpha.begin() + 40, noAlpha.begin() + 56, alpha.begin() + 40);
        cases.push_back({alpha, 3780, 3780, 3780, 3780, true});
        for (size_t i = 0; i < cases.size(); ++i) {
            PutLE(cases[i].dib, 24, uint32_t(cases[i].xppm), 4), PutLE(cases[i].dib, 28, uint32_t(cases[i].yppm), 4);
            store.Add(int32_t(10 + i), FileOf(cases[i].dib));
        }
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
    }
    // The case page p of the PDF of every case shows: the last case first, then the others.
    const ExportCase& OnPage(int page) const { return cases[(page + cases.size() - 2) % cases.size()]; }
    void BitonalPagesComeBack(const std::string& name) const;
    std::vector<ExportCase> cases;
    storefiles::StoreLayout store;
};

double Dpi(uint32_t pelsPerMeter)
{
    return pelsPerMeter ? pelsPerMeter * 0.0254 : 300;
}

// Whether a drawing of a page, at least 3 pixels a side to each of its pixels, shows the
// DIB's pixels, each read at the middle of its block.
::testing::AssertionResult DrawnAs(const Bytes& dib, const Bytes& png)
{
    Decoded d;
    const DibLayout l = DibReadLayout(dib.data());
    const int rows = std::abs(l.height);
    const double sx = Decode(png, d) ? double(d.rows[0].size() / d.channels) / l.width : 0;
    const double sy = double(d.rows.size()) / rows;
    if (sx < 3 || sy < 3)
        return ::testing::AssertionFailure() << "no drawing of the page at that size";
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < l.width; ++x)
            for (int s = 0; s < 3; ++s)
                if (d.rows[size_t((y + 0.5) * sy)][size_t((x + 0.5) * sx) * d.channels + s] !=
                    Expected(dib, x, y, false)[s])
                    return ::testing::AssertionFailure() << "pixel " << x << ", " << y << " differs";
    return ::testing::AssertionSuccess();
}

std::string Match(const std::string& text, const std::string& pattern)
{
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

// What qpdf shows of an object ("trailer", or a number), or of its stream's bytes.
std::string Show(const std::string& path, const std::string& object, bool data = false)
{
    return RunCommand({"qpdf", "--show-object=" + object, path}, data ? std::vector<std::string>{"--raw-stream-data"}
                                                                      : std::vector<std::string>{}).out;
}

// What keeps the PDF at path from being one archives accept, as its bytes and qpdf tell;
// "" when nothing does.
std::string ArchivalFaults(const std::string& path)
{
    std::string faults;
    auto fault = [&faults](bool is, const std::string& what) { faults += is ? what + "; " : ""; };
    fault(RunCommand({"qpdf", "--check", path}, {}).exitCode != 0, "qpdf finds faults");
    const std::string trailer = Show(path, "trailer"), catalog = Show(path, Match(trailer, R"(/Root (\d+) 0 R)"));
    std::smatch id;
    fault(!std::regex_search(trailer, id, std::regex(R"(/ID \[ <(\w{32})> <(\w{32})> \])")) || id[1] != id[2],
          "no identifier");
    const std::string info = Show(path, Match(trailer, R"(/Info (\d+) 0 R)"));
    const std::string metadata = Match(catalog, R"(/Metadata (\d+) 0 R)"), xmp = Show(path, metadata, true);
    fault(Show(path, metadata).find("/Subtype /XML") == std::string::npos || Match(xmp, "<pdfaid:part>(.*?)<") != "2" ||
              Match(xmp, "<pdfaid:conformance>(.*?)<") != "B", "no archival metadata");
    // The producer and the dates of the document information, the dates as XMP writes them.
    std::regex date(R"(D:(\d{4})(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)([-+])(\d\d)'(\d\d)')");
    auto entry = [&](const char* key) {
        return std::regex_replace(Match(info, std::string("/") + key + R"( \((.*?)\))"), date,
                                  "$1-$2-$3T$4:$5:$6$7$8:$9");
    };
    for (auto [key, value] : {std::pair{"pdf:Producer", entry("Producer")}, {"xmp:CreateDate", entry("CreationDate")},
                              {"xmp:ModifyDate", entry("ModDate")}, {"xmp:MetadataDate", entry("ModDate")}})
        fault(value.empty() || Match(xmp, std::string("<") + key + ">(.*?)<") != value, std::string(key) + " differs");
    const std::string intent = Show(path, Match(catalog, R"(/OutputIntents \[ (\d+) 0 R)"));
    const std::string profile = Match(intent, R"(/DestOutputProfile (\d+) 0 R)");
    fault(intent.find("/S /GTS_PDFA1") == std::string::npos || profile.empty() ||
              Show(path, profile).find("/N 3") == std::string::npos, "no output intent");
    // littlecms takes the profile for sRGB: colours go through it into its own sRGB unchanged.
    std::ofstream(path + ".icc", std::ios::binary) << Show(path, profile, true);
    const std::string colours = "0 0 0 255 255 255 255 0 0 0 255 0 0 0 255 10 128 240";
    std::istringstream in(colours), out(RunCommand({"sh", "-c", "echo " + colours + " | xargs -n 3 | transicc -n -i '" +
                                                    path + ".icc' -o '*sRGB'"}, {}).out);
    for (double want, got; in >> want;)
        fault(!(out >> got) || std::fabs(got - want) > 0.5, "the profile is not sRGB");
    const Bytes file = Slurp(path);
    for (const char* part : {"/SMask", "/Interpolate true", "/LZWDecode"})
        fault(std::search(file.begin(), file.end(), part, part + std::strlen(part)) != file.end(), part);
    return faults;
}

// Every 1-bit page of the PDF out/name is JBIG2; those at 72 dpi come back pixel for pixel from
// MuPDF's extraction and from poppler's and MuPDF's drawings at 288 dpi, four pixels a side
// to a point (at 72 the renderers shade edges).
void ExportFormats::BitonalPagesComeBack(const std::string& name) const
{
    const std::string out = Path("out");
    const ToolRun readers = RunCommand({"sh", "-c", "cd '" + out + "' && mutool extract " + name +
                                        " && pdftoppm -r 288 -png " + name + " poppler && mutool draw -q -r 288 -o " +
                                        "mupdf%d.png " + name}, {});
    ASSERT_EQ(readers.exitCode, 0);
    // Nothing said of the streams but MuPDF's note on every run.
    EXPECT_EQ(std::regex_replace(readers.err, std::regex("warning: ICC support is not available\n"), ""), "");
    const std::string list = RunCommand({"pdfimages", "-list", out + "/" + name}, {}).out;
    std::regex image(R"(\n *(\d+) +\d+ +image +\d+ +\d+ +\w+ +\d+ +\d+ +(\w+) +\w+ +(\d+) )");
    size_t drawn = 0;
    for (auto m = std::sregex_iterator(list.begin(), list.end(), image); m != std::sregex_iterator(); ++m) {
        const int page = std::stoi((*m)[1]);
        const ExportCase& c = OnPage(page);
        const bool bitonal = DibReadLayout(c.dib.data()).bitCount == 1;
        SCOPED_TRACE("page " + std::to_string(page));
        EXPECT_EQ((*m)[2] == "jbig2", bitonal) << (*m)[2];
        if (!bitonal || c.xWant != 2835)
            continue;
        char extracted[32], poppler[32];
        std::snprintf(extracted, sizeof extracted, "/image-%04d.png", std::stoi((*m)[3]));
        std::snprintf(poppler, sizeof poppler, "/poppler-%02d.png", page);
        Decoded d;
        EXPECT_TRUE(Decode(Slurp(out + extracted), d) && SamePixels(c.dib, d)) << extracted;
        EXPECT_TRUE(DrawnAs(c.dib, Slurp(out + poppler))) << "poppler";
        EXPECT_TRUE(DrawnAs(c.dib, Slurp(out + "/mupdf" + std::to_string(page) + ".png"))) << "MuPDF";
        ++drawn;
    }
    EXPECT_GT(drawn, jbig2check::Pages().size());
}

TEST_F(ExportFormats, PngAndPdfFilesHoldTheStoredPixelsAtTheirResolution)
{
    const std::time_t epoch = 1700000000;
    char date[40];
    std::strftime(date, sizeof date, "/CreationDate (D:%Y%m%d%H%M%S+00'00')", std::gmtime(&epoch));
    setenv("SOURCE_DATE_EPOCH", std::to_string(epoch).c_str(), 1);
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
            EXPECT_EQ(d.colourType == 6, cases[i].alpha) << i;
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
        EXPECT_EQ(ArchivalFaults(Path("out/all.pdf")), "");
        ASSERT_EQ(RunCommand({"pdfimages", "-png", Path("out/all.pdf"), Path("out/image")}, {}).exitCode, 0);
        ToolRun info = RunCommand({"pdfinfo", "-f", "1", "-l", "99", Path("out/all.pdf")}, {});
        std::regex size(R"(Page +(\d+) size: +([\d.]+) x ([\d.]+) pts)");
        size_t pages = 0;
        for (auto m = std::sregex_iterator(info.out.begin(), info.out.end(), size); m != std::sregex_iterator(); ++m) {
            const int page = std::stoi((*m)[1]);
            const ExportCase& c = OnPage(page);
            const DibLayout l = DibReadLayout(c.dib.data());
            // Poppler gives a page's size in units of its /UserUnit; no side is under 3 units.
            const double w = l.width * 72 / Dpi(c.xWant), h = std::abs(l.height) * 72 / Dpi(c.yWant);
            const double unit = std::ceil(w / 14400), grow = std::max(1.0, 3 / std::min(w, h));
            EXPECT_NEAR(std::stod((*m)[2]), w * grow / unit, 0.01) << "page " << page;
            EXPECT_NEAR(std::stod((*m)[3]), h * grow / unit, 0.01) << "page " << page;
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
        BitonalPagesComeBack("all.pdf");
        // The same export once more is the same file, dated as SOURCE_DATE_EPOCH says.
        args.back() = Path("out/again.pdf");
        ASSERT_EQ(RunCommand(tool, args).exitCode, 0);
        EXPECT_TRUE(Slurp(Path("out/again.pdf")) == Slurp(Path("out/all.pdf")));
        const std::string trailer = Show(Path("out/all.pdf"), "trailer");
        EXPECT_NE(Show(Path("out/all.pdf"), Match(trailer, R"(/Info (\d+) 0 R)")).find(date), std::string::npos);
        // The plain file has none of the archival parts, and keeps the alpha as a soft mask.
        args.back() = Path("out/plain.pdf");
        args.push_back("--plain-pdf");
        ASSERT_EQ(RunCommand(tool, args).exitCode, 0);
        const std::string faults = ArchivalFaults(Path("out/plain.pdf"));
        for (const char* part : {"no identifier", "no archival metadata", "no output intent", "/SMask"})
            EXPECT_NE(faults.find(part), std::string::npos) << part;
        EXPECT_EQ(faults.find("qpdf"), std::string::npos) << faults;
    }
    unsetenv("SOURCE_DATE_EPOCH");
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
