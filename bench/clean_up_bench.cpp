// The Page menu's clean-ups on an A4 page at 300 dpi in 24-bit colour (the tests' drawn
// page: text, uneven light, noise) against ImageMagick's own operation on the same page in
// the same run, which is what many integrators reach for. ImageMagick's time includes
// reading and writing the bitmap file; a note gives that share.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "bench/bench.h"
#include "bench/host_tools.h"
#include "imaging/page_commands.h"
#include "imaging/test_page.h"
#include "support/driver.h"

namespace {
// The real ImageMagick: /usr/local/bin/convert may be a stand-in of the same name.
constexpr char kConvert[] = "/usr/bin/convert";
constexpr double kTurnedBy = 3.3;

struct Block : imaging::ResultBlock {
    std::vector<uint8_t> bytes;
    uint8_t* Allocate(size_t n) override
    {
        bytes.resize(n);
        return bytes.data();
    }
};

std::string Quote(const std::string& path)
{
    return "'" + path + "'";
}

// The page as a bitmap file in dir; answers its Unix path.
std::string WritePage(const std::string& dir, const char* name, const std::vector<uint8_t>& dib)
{
    std::vector<uint8_t> file(14, 0);
    file[0] = 'B', file[1] = 'M';
    const uint32_t size = uint32_t(14 + dib.size()), bits = 14 + 40;
    for (int i = 0; i < 4; ++i)
        file[2 + i] = uint8_t(size >> (8 * i)), file[10 + i] = uint8_t(bits >> (8 * i));
    file.insert(file.end(), dib.begin(), dib.end());
    std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    return driver::UnixPath(dir + name);
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bench::Row Compare(const char* name, imaging::PageCommand command, const std::vector<uint8_t>& page,
                   const std::string& reference, const std::string& imageMagick, double& measured)
{
    Block out;
    const bench::Timing t = bench::BestOf(
        [&] { measured = imaging::RunPageCommand(command, page.data(), page.size(), out).skewDegrees; },
        [&] { bench::TimeNativeCommand(imageMagick); });
    bench::Row row;
    row.name = name;
    row.seconds = t.seconds;
    row.reference = reference;
    row.referenceSeconds = t.referenceSeconds;
    row.goal = 0.5;
    return row;
}

std::vector<bench::Row> Measure()
{
    if (GetFileAttributesA("Z:\\usr\\bin\\convert") == INVALID_FILE_ATTRIBUTES) {
        bench::Note("clean-ups: no ImageMagick at /usr/bin/convert, rows left out");
        return {};
    }
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "pagorex-bench-clean\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::vector<uint8_t> straight = testpage::Make(testpage::A4()).dib;
    const std::vector<uint8_t> turned = testpage::Make(testpage::A4(kTurnedBy)).dib;
    const std::vector<uint8_t> bordered = testpage::Make(testpage::A4(0, 60)).dib;
    const std::string page = Quote(WritePage(dir, "page.bmp", straight)),
                      skewed = Quote(WritePage(dir, "turned.bmp", turned)),
                      framed = Quote(WritePage(dir, "bordered.bmp", bordered)),
                      out = Quote(driver::UnixPath(dir) + "out.bmp");
    const std::string im = std::string(kConvert) + " ";
    double skew = 0, unused = 0;
    std::vector<bench::Row> rows = {
        Compare("Grey, A4 300 dpi RGB", imaging::PageCommand::kGrey, straight, "convert -colorspace Gray",
                im + page + " -colorspace Gray " + out, unused),
        Compare("Black and White, A4 300 dpi RGB", imaging::PageCommand::kBlackAndWhite, straight,
                "convert -colorspace Gray -lat", im + page + " -colorspace Gray -lat 37x37-5% " + out, unused),
        Compare("Straighten (find + turn), A4 300 dpi RGB", imaging::PageCommand::kStraighten, turned,
                "convert -deskew 40%", im + skewed + " -deskew 40% " + out, skew),
        Compare("Crop to Page, A4 300 dpi RGB", imaging::PageCommand::kCrop, bordered, "convert -fuzz 30% -trim",
                im + framed + " -fuzz 30% -trim +repage " + out, unused),
    };
    const std::string angleFile = dir + "angle.txt";
    bench::TimeNativeCommand(im + skewed + " -deskew 40% -format '%[deskew:angle]' info: > " +
                             Quote(driver::UnixPath(angleFile)));
    const double copy = bench::TimeNativeCommand(im + page + " " + out);
    char note[256];
    std::snprintf(note, sizeof note, "Straighten: page turned by %.2f deg, found %.3f deg; ImageMagick's deskew angle %s deg",
                  kTurnedBy, skew, ReadText(angleFile).c_str());
    bench::Note(note);
    std::snprintf(note, sizeof note, "ImageMagick reads and writes the A4 bitmap alone in %.0f ms (part of its rows)",
                  copy * 1e3);
    bench::Note(note);
    for (const char* name : {"page.bmp", "turned.bmp", "bordered.bmp", "out.bmp", "angle.txt"})
        DeleteFileA((dir + name).c_str());
    RemoveDirectoryA(dir.c_str());
    return rows;
}

const bool registered = bench::Register(Measure, "clean");

}  // namespace
