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

class ExportFormats : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        Bytes grey = BuildDib({19, 6, 8}), black = BuildDib({33, -10, 1}), white = BuildDib({17, 9, 1});
        for (uint32_t i = 0; i < 256; ++i)
            PutLE(grey, 40 + 4 * i, i * 0x010101, 4);
        PutLE(black, 44, 0xFFFFFF, 4), PutLE(white, 40, 0xFFFFFF, 4), PutLE(white, 44, 0, 4);
        dibs = {BuildDib({37, 23, 24}), black, BuildDib({9, 5, 8, 40, 0, 0, 16}), grey, BuildDib({2, 2, 48}), white};
        const int32_t dpi[] = {11811, 0, 7874, 3780, 11811, 2835};  // 300, none, 200, 96, 300, 72
        for (size_t i = 0; i < dibs.size(); ++i) {
            PutLE(dibs[i], 24, uint32_t(dpi[i]), 4), PutLE(dibs[i], 28, uint32_t(dpi[i]), 4);
            store.Add(int32_t(10 + i), FileOf(dibs[i]));
        }
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
    }
    std::vector<Bytes> dibs;
    storefiles::StoreLayout store;
};

TEST_F(ExportFormats, PngAndPdfFilesHoldTheStoredPixelsAtTheirResolution)
{
    for (const auto& tool : Tools()) {
        SCOPED_TRACE(tool.back());
        std::filesystem::remove_all(Path("out"));
        std::filesystem::create_directory(Path("out"));
        ToolRun pngs = RunCommand(tool, {"export", Dir(), "--all", Path("out"), "--format", "png"});
        ASSERT_EQ(pngs.exitCode, 0) << pngs.err;
        for (size_t i = 0; i < dibs.size(); ++i) {
            Decoded d;
            ASSERT_TRUE(Decode(Slurp(Path("out/" + std::to_string(10 + i) + ".png")), d)) << i;
            EXPECT_TRUE(SamePixels(dibs[i], d)) << i;
        }
        ToolRun pdf =
            RunCommand(tool, {"export", Dir(), "15", "10", "11", "12", "13", "14", "--into", Path("out/all.pdf")});
        ASSERT_EQ(pdf.exitCode, 0) << pdf.err;
        EXPECT_EQ(RunCommand({"qpdf", "--check", Path("out/all.pdf")}, {}).exitCode, 0);
        ASSERT_EQ(RunCommand({"pdfimages", "-png", Path("out/all.pdf"), Path("out/image")}, {}).exitCode, 0);
        ToolRun info = RunCommand({"pdfinfo", "-f", "1", "-l", "6", Path("out/all.pdf")}, {});
        std::regex size(R"(Page +(\d) size: +([\d.]+) x ([\d.]+) pts)");
        int pages = 0;
        for (auto m = std::sregex_iterator(info.out.begin(), info.out.end(), size); m != std::sregex_iterator(); ++m) {
            const size_t record = (std::stoi((*m)[1]) + 4) % 6;  // in the order asked: 15, 10, 11, ...
            const DibLayout l = DibReadLayout(dibs[record].data());
            const double dpi[] = {300, 300, 200, 96, 300, 72}, tall = std::abs(l.height);
            EXPECT_NEAR(std::stod((*m)[2]), l.width * 72 / dpi[record], 1) << "page " << (*m)[1];
            EXPECT_NEAR(std::stod((*m)[3]), tall * 72 / dpi[record], 1) << "page " << (*m)[1];
            Decoded d;
            ASSERT_TRUE(Decode(Slurp(Path("out/image-00" + std::to_string(pages) + ".png")), d));
            EXPECT_TRUE(SamePixels(dibs[record], d, true)) << "page " << (*m)[1];
            ++pages;
        }
        EXPECT_EQ(pages, 6) << info.out;
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
