// pagorex-store's export into the formats other systems read against ImageMagick, in the
// same run: `export --format png` against `convert page.bmp page.png`, and `--format pdf`
// against `convert page.bmp page.pdf`, on the A4 300 dpi page in 24-bit colour and in 1 bit,
// with the sizes of the files beside. The tool runs as a user runs it, a process of its own
// reading the page from a store.
//
// Debian's ImageMagick policy forbids writing PDF. The PDF rows run convert in a private
// mount namespace in which a copy of the policy without that line lies over the system's
// (`unshare -m`, or `unshare -rm` for a user who is not root); the system's file is never
// touched. Where no such namespace can be had, the PDF rows are left out and a note says so.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/bench.h"
#include "bench/host_tools.h"
#include "store/core/index_record.h"
#include "store/core/parallel_gzip.h"
#include "support/driver.h"

namespace {
using bench::Bytes;

const char kConvert[] = "/usr/bin/convert";  // the real one: /usr/local/bin/convert may be a stand-in

std::string Unix(const std::string& windowsPath)
{
    return "'" + bench::UnixPath(windowsPath) + "'";
}

// A store whose record 1 holds the page, as the program stores it.
void LayOutStore(const std::string& dir, const Bytes& file)
{
    std::vector<uint8_t> blob = pgz::CompressMember(file);
    IndexRecord record{};
    record.recordNumber = 1;
    record.storedLength = uint32_t(blob.size());
    record.compressed = 1;
    record.imageLength = uint32_t(file.size());
    Bytes index(kIndexRecordSize);
    EncodeIndexRecord(record, index);
    driver::WriteFileBytes(dir + "pagorex.idx", index);
    driver::WriteFileBytes(dir + "pagorex.dat", blob);
}

// Runs pagorex-store.exe with arguments and waits for it; its exit code, or -1.
int RunTool(const std::string& arguments)
{
    std::string exe = driver::BinDirectory() + "pagorex-store.exe";
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;  // its lines would only clutter the table
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 300000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

// The prefix that runs convert with PDF writing allowed, or "" when none works here.
std::string PdfAllowed(const std::string& dir)
{
    std::string policy = Unix(dir + "policy.xml");
    bench::TimeNativeCommand("sed '/pattern=.PDF. /d' /etc/ImageMagick-6/policy.xml > " + policy);
    for (const char* unshare : {"unshare -m", "unshare -rm"}) {
        std::string prefix = std::string(unshare) + " sh -c 'mount --bind " + bench::UnixPath(dir + "policy.xml") +
                             " /etc/ImageMagick-6/policy.xml && ";
        DeleteFileA((dir + "probe.pdf").c_str());
        bench::TimeNativeCommand(prefix + kConvert + " " + bench::UnixPath(dir + "page.bmp") + " " +
                                 bench::UnixPath(dir + "probe.pdf") + "'");
        if (driver::ReadFileBytes(dir + "probe.pdf").size() > 0)
            return prefix;
    }
    return "";
}

struct Page {
    const char* name;
    Bytes dib;
};

std::vector<bench::Row> PageRows(const std::string& dir, const Page& page, const std::string& pdfPrefix)
{
    driver::WriteFileBytes(dir + "page.bmp", bench::BitmapFileOf(page.dib));
    LayOutStore(dir, bench::BitmapFileOf(page.dib));
    std::vector<bench::Row> rows;
    for (const char* format : {"png", "pdf"}) {
        const bool pdf = std::string(format) == "pdf";
        if (pdf && pdfPrefix.empty())
            continue;
        const std::string ours = dir + "ours." + format, theirs = dir + "theirs." + format;
        const std::string store = dir.substr(0, dir.size() - 1);  // a backslash before a quote escapes it
        int code = 0;
        std::string convert = std::string(kConvert) + " " + bench::UnixPath(dir + "page.bmp") + " " +
                              bench::UnixPath(theirs);
        bench::Timing t = bench::BestOf(
            [&] { code |= RunTool("export \"" + store + "\" 1 \"" + ours + "\" --format " + format + " --force"); },
            [&] { bench::TimeNativeCommand(pdf ? pdfPrefix + convert + "'" : convert); });
        const std::string what = std::string("export --format ") + format + ", A4 " + page.name + " page";
        const std::string reference = std::string("convert page.bmp page.") + format;
        rows.push_back({what + (code != 0 ? " (FAILED)" : ""), t.seconds, reference, t.referenceSeconds, 0.5});
        rows.push_back({std::string("  its file"), double(driver::ReadFileBytes(ours).size()),
                        std::string("ImageMagick's ") + format, double(driver::ReadFileBytes(theirs).size()),
                        pdf ? 0 : 1.05, true});
    }
    return rows;
}

std::vector<bench::Row> Measure()
{
    std::string dir = driver::MakeTempDirectory("pgx-export-bench") + "\\";
    std::vector<bench::Row> rows;
    bench::TimeNativeCommand(std::string("if ") + kConvert + " -version | grep -q ImageMagick; then : > " +
                             Unix(dir + "im") + "; fi");
    if (!driver::FileExists(dir + "im")) {
        bench::Note("export rows left out: ImageMagick (/usr/bin/convert, package imagemagick) is not installed");
    } else {
        driver::WriteFileBytes(dir + "page.bmp", bench::BitmapFileOf(bench::A4TextPageDib()));
        std::string pdfPrefix = PdfAllowed(dir);
        if (pdfPrefix.empty())
            bench::Note("export PDF rows left out: ImageMagick's policy forbids writing PDF, and no private mount "
                        "namespace (unshare) could lay an allowing copy over it");
        for (const Page& page : {Page{"24-bit", bench::A4PageDib()}, Page{"1-bit", bench::A4TextPageDib()}})
            for (const bench::Row& row : PageRows(dir, page, pdfPrefix))
                rows.push_back(row);
    }
    driver::RemoveDirectoryTree(dir.substr(0, dir.size() - 1));
    return rows;
}

const bool registered = bench::Register(Measure, "export");
}  // namespace
