// A black-and-white page as the export writes it into a PDF, coded as JBIG2, on an A4 page
// at 300 dpi as a scanner sees it (the tests' drawn page of text on unevenly lit, grainy
// paper, blurred by the lens and noised by the sensor as bench::AsScanned does), made black
// and white by the Black and White clean-up, level
// and turned by a degree as a page lies on the glass: the time of its PDF page (the rows
// taken out of the bitmap, coded and written) against ImageMagick's Group 4 conversion of
// the same page (`convert page.pbm -compress Group4 page.tif`, files read and written as a
// tool does), its image stream's size against Flate (zlib, level 9) of the same rows and
// against that Group 4 file; beside them, for comparison, JBIG-KIT's coding of the page
// (pbmtojbg), whose arithmetic coder and template are much like these. A page of clean,
// level strokes would flatter Flate: its long runs are what Flate finds best.
#include <windows.h>
#include <zlib.h>

#include <cstdio>

#include "bench/bench.h"
#include "bench/host_tools.h"
#include "bench/pages.h"
#include "dib/dib_export.h"
#include "imaging/page_commands.h"
#include "imaging/test_page.h"
#include "support/driver.h"
#include "tools/pagorex-store/jbig2_encoder.h"
#include "tools/pagorex-store/pdf_writer.h"

namespace {
// The real ImageMagick: /usr/local/bin/convert may be a stand-in of the same name.
constexpr char kConvert[] = "/usr/bin/convert";

struct Block : imaging::ResultBlock {
    std::vector<uint8_t> bytes;
    uint8_t* Allocate(size_t n) override
    {
        bytes.resize(n);
        return bytes.data();
    }
};

// The blur of a scanner's lens at 300 dpi, in pixels: Flate of the rows then takes 110 to
// 125 KB, as it does for scanned pages.
constexpr double kLensBlur = 1.5;

// A PDF kept in memory.
struct Memory final : ByteSink {
    std::vector<uint8_t> bytes;
    bool Write(const uint8_t* data, size_t count) override
    {
        bytes.insert(bytes.end(), data, data + count);
        return true;
    }
};

// The page as the export writes it, a PDF of one page; the size of its image stream, 0 where
// it is no JBIG2 stream.
size_t ExportedStream(const DibExportPlan& plan)
{
    Memory out;
    PdfWriter pdf(out, PdfOptions{true, 0, "pagorex-store"});
    if (!pdf.AddPage(plan, "1", "Record 1") || !pdf.Finish())
        return 0;
    const std::string file(out.bytes.begin(), out.bytes.end());
    const size_t filter = file.find("/JBIG2Decode"), begin = file.find(">>\nstream\n", filter) + 10;
    return filter == std::string::npos ? 0 : file.find("\nendstream", begin) - begin;
}

// The drawn page in black and white, its rows packed as the export packs them.
struct BlackAndWhite {
    DibExportPlan plan;
    Block dib;
    std::vector<uint8_t> rows;
};

void Draw(double degrees, BlackAndWhite& page)
{
    std::vector<uint8_t> drawn = testpage::Make(testpage::A4(degrees)).dib;
    bench::AsScanned(drawn, kLensBlur);
    imaging::RunPageCommand(imaging::PageCommand::kBlackAndWhite, drawn.data(), drawn.size(), page.dib);
    DibExportPlanFor(page.dib.bytes.data(), page.dib.bytes.size(), page.plan);
    page.rows.resize(page.plan.rowBytes * page.plan.height);
    for (int y = 0; y < page.plan.height; ++y)
        DibExportRow(page.plan, y, &page.rows[page.plan.rowBytes * y]);
}

// The page as a PBM file (1 is black there).
std::vector<uint8_t> Pbm(const BlackAndWhite& page, bool oneIsBlack)
{
    const std::string header = "P4\n" + std::to_string(page.plan.width) + " " + std::to_string(page.plan.height) + "\n";
    std::vector<uint8_t> file(header.begin(), header.end());
    for (uint8_t byte : page.rows)
        file.push_back(oneIsBlack ? byte : uint8_t(~byte));
    return file;
}

// JBIG-KIT's coding of the same page beside the encoder's, where it is installed.
void AddJbigKit(const std::string& dir, const Jbig2Page& in, std::vector<bench::Row>& rows)
{
    if (GetFileAttributesA("Z:\\usr\\bin\\pbmtojbg") == INVALID_FILE_ATTRIBUTES)
        return;
    const std::string pbmtojbg =
        "pbmtojbg '" + driver::UnixPath(dir + "page.pbm") + "' '" + driver::UnixPath(dir + "page.jbg") + "'";
    std::vector<uint8_t> stream;
    const bench::Timing t = bench::BestOf([&] { stream.clear(), EncodeJbig2(in, stream); },
                                          [&] { bench::TimeNativeCommand(pbmtojbg); });
    const size_t jbig = driver::ReadFileBytes(dir + "page.jbg").size();
    rows.push_back({"  the same encode", t.seconds, "pbmtojbg (JBIG-KIT)", t.referenceSeconds});
    rows.push_back({"  its stream", double(stream.size()), "pbmtojbg's file", double(jbig), 0, true});
}

std::vector<bench::Row> PageRows(const std::string& dir, const std::string& name, double degrees)
{
    BlackAndWhite page;
    Draw(degrees, page);
    const uint8_t* palette = page.plan.Palette();  // entry 1 darker than entry 0: a 1 bit is black
    const bool oneIsBlack = palette[3] + palette[4] + palette[5] < palette[0] + palette[1] + palette[2];
    driver::WriteFileBytes(dir + "page.pbm", Pbm(page, oneIsBlack));
    const Jbig2Page in{page.plan.width, page.plan.height, page.rows.data(), oneIsBlack,
                       uint32_t(page.plan.xPelsPerMeter), uint32_t(page.plan.yPelsPerMeter)};
    size_t stream = 0;
    const std::string convert = std::string(kConvert) + " '" + driver::UnixPath(dir + "page.pbm") +
                                "' -compress Group4 '" + driver::UnixPath(dir + "page.tif") + "'";
    const bench::Timing t = bench::BestOf([&] { stream = ExportedStream(page.plan); },
                                          [&] { bench::TimeNativeCommand(convert); });
    uLongf flate = compressBound(uLong(page.rows.size()));
    std::vector<uint8_t> deflated(flate);
    compress2(deflated.data(), &flate, page.rows.data(), uLong(page.rows.size()), 9);
    const size_t group4 = driver::ReadFileBytes(dir + "page.tif").size();
    char note[160];
    std::snprintf(note, sizeof note, "JBIG2 in the PDF, A4 %s page: %zu bytes; Flate %lu, Group 4 file %zu",
                  name.c_str(), stream, flate, group4);
    bench::Note(note);
    std::vector<bench::Row> rows = {
        {"PDF page in JBIG2, A4 1-bit " + name + (stream ? "" : " (FAILED)"), t.seconds, "convert -compress Group4",
         t.referenceSeconds, 0.5},
        {"  its image stream", double(stream), "Flate (zlib 9) of the rows", double(flate), 0.65, true},
        {"  its image stream", double(stream), "ImageMagick's Group 4 file", double(group4), 0.8, true}};
    AddJbigKit(dir, in, rows);
    return rows;
}

std::vector<bench::Row> Measure()
{
    if (GetFileAttributesA("Z:\\usr\\bin\\convert") == INVALID_FILE_ATTRIBUTES) {
        bench::Note("JBIG2: no ImageMagick at /usr/bin/convert, rows left out");
        return {};
    }
    const std::string dir = driver::MakeTempDirectory("pgx-jbig2-bench") + "\\";
    std::vector<bench::Row> rows = PageRows(dir, "level", 0);
    for (const bench::Row& row : PageRows(dir, "turned 1 deg", 1))
        rows.push_back(row);
    driver::RemoveDirectoryTree(dir.substr(0, dir.size() - 1));
    return rows;
}

const bool registered = bench::Register(Measure, "jbig2");
}  // namespace
