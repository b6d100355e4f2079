// The image store against the tools a user would compare it with, on this machine in the
// same run: Save Image of an A4 page (24-bit, 24-bit with a sensor's noise, 8-bit grey,
// 1-bit) against gzip -9 of its bitmap file, in time and size, with pigz -9 and -6 on
// every core beside it, the start-up compaction of a store of plain grey pages against
// gzip -9 of the same bytes, showing a stored page against gunzip of its blob, and finding
// the last record of a million against a plain read of the index. The last two start the
// real program and take the time to its window of an empty record off.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <zlib.h>

#include "app/shell.h"
#include "app/store_commands.h"
#include "app/view.h"
#include "bench/bench.h"
#include "bench/host_tools.h"
#include "store/compaction.h"
#include "store/core/index_record.h"
#include "store/core/worker_pool.h"
#include "support/driver.h"

namespace {
using bench::Bytes;

constexpr int kGreyPages = 300;
constexpr int kFewGreyPages = 100;
constexpr int kIndexRecords = 1000000;

// The shell's part as the program plays it (title, message pump), with every question
// answered at once.
class BenchHost final : public StoreHost {
public:
    BenchHost(std::string directory, HWND window) : directory_(std::move(directory)), window_(window) {}
    const char* StoreDirectory() override { return directory_.c_str(); }
    int32_t RecordNumber() override { return 1; }
    void SetProgressText(const char* text) override { SetWindowTextA(window_, text); }
    void KeepAlive() override
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        UpdateWindow(window_);
    }
    int Message(const char*, const char*, unsigned style) override
    {
        return (style & 0xF) == MB_YESNO ? IDYES : IDOK;
    }
    void ShowImage(ImageFileSource*) override {}

private:
    std::string directory_;
    HWND window_;
};

HWND MakeWindow()
{
    return CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

std::string Quote(const std::string& windowsPath)
{
    return "'" + driver::UnixPath(windowsPath) + "'";
}

// A new empty directory for the store files, ending in a backslash.
std::string Scratch(const char* prefix)
{
    return driver::MakeTempDirectory(prefix) + "\\";
}

void RemoveScratch(const std::string& directory)
{
    driver::RemoveDirectoryTree(directory.substr(0, directory.size() - 1));
}

std::string ProgramPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path);
    return text.substr(0, text.find_last_of('\\') + 1) + "pagorex.exe";
}

Bytes RecordBytes(const IndexRecord& record)
{
    Bytes bytes(kIndexRecordSize);
    EncodeIndexRecord(record, bytes);
    return bytes;
}

IndexRecord Record(int32_t number, uint32_t offset, uint32_t stored, uint8_t compressed, uint32_t imageLength)
{
    IndexRecord record{};
    record.recordNumber = number;
    record.dataOffset = offset;
    record.storedLength = stored;
    record.compressed = compressed;
    record.imageLength = imageLength;
    return record;
}

std::string Megabytes(double bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    return text;
}

// A page to save, and what its Save Image should reach against gzip -9 of its bitmap file.
struct SavedPage {
    const char* name;
    Bytes dib;
    double timeGoal;
    double sizeGoal;
};

// The best of three rounds of each: gzip -9, the save through the program, pigz -9 and
// pigz -6 on every core; and the sizes they wrote.
struct SaveTimes {
    double gzip = 1e9, save = 1e9, pigz9 = 1e9, pigz6 = 1e9;
    std::size_t gzipBytes = 0, blobBytes = 0, pigz9Bytes = 0, pigz6Bytes = 0;
    bool saved = true;
};

double Timed(const std::function<void()>& fn)
{
    double start = bench::Now();
    fn();
    return bench::Now() - start;
}

SaveTimes TimeSaves(const std::string& dir, HWND window)
{
    const std::string page = Quote(dir + "page.bmp");
    const std::string cores = std::to_string(workers::PerCore());
    auto native = [&](const std::string& command, const char* out) {
        return [=] { bench::TimeNativeCommand(command + " < " + page + " > " + Quote(dir + out)); };
    };
    SaveTimes t;
    for (int round = 0; round < 3; ++round) {
        t.gzip = std::min(t.gzip, Timed(native("gzip -9", "page.gz")));
        t.save = std::min(t.save, Timed([&] {
            DeleteFileA((dir + "pagorex.idx").c_str());
            DeleteFileA((dir + "pagorex.dat").c_str());
            t.saved = SaveCommand(window) && t.saved;
        }));
        t.pigz9 = std::min(t.pigz9, Timed(native("pigz -9 -p " + cores, "page.p9.gz")));
        t.pigz6 = std::min(t.pigz6, Timed(native("pigz -6 -p " + cores, "page.p6.gz")));
    }
    t.gzipBytes = driver::ReadFileBytes(dir + "page.gz").size();
    t.blobBytes = driver::ReadFileBytes(dir + "pagorex.dat").size();
    t.pigz9Bytes = driver::ReadFileBytes(dir + "page.p9.gz").size();
    t.pigz6Bytes = driver::ReadFileBytes(dir + "page.p6.gz").size();
    return t;
}

// Save Image: the Save command of the shell, for a window showing the page; pigz beside
// it, so that the table tells whether the save is ahead of every parallel gzip.
std::vector<bench::Row> SaveRows(const std::string& dir, const SavedPage& page)
{
    Bytes file = bench::BitmapFileOf(page.dib);
    driver::WriteFileBytes(dir + "page.bmp", file);
    HWND window = MakeWindow();
    appInstance = GetModuleHandleA(nullptr);
    std::strcpy(appName, "PAGOREX");
    mainWindow = window;
    ParseCommandLine(("1 " + dir + "host.db").c_str());
    currentDib = GlobalAlloc(GMEM_MOVEABLE, page.dib.size());
    std::memcpy(GlobalLock(currentDib), page.dib.data(), page.dib.size());
    GlobalUnlock(currentDib);
    documentPages = {currentDib};
    SaveTimes t = TimeSaves(dir, window);
    documentPages.clear();
    GlobalFree(currentDib);
    currentDib = nullptr;
    DestroyWindow(window);
    mainWindow = nullptr;

    const std::string cores = std::to_string(workers::PerCore());
    const std::string gzip = "gzip -9 of its bitmap file";
    char note[200];
    std::snprintf(note, sizeof note, "%s page: %s bitmap file; sizes against gzip -9: pigz -9 %.4f, pigz -6 %.4f%s",
                  page.name, Megabytes(double(file.size())).c_str(), double(t.pigz9Bytes) / double(t.gzipBytes),
                  double(t.pigz6Bytes) / double(t.gzipBytes), t.saved ? "" : "; A SAVE FAILED");
    bench::Note(note);
    const std::string save = std::string("Save Image, A4 300 dpi ") + page.name + " page";
    return {{save, t.save, gzip, t.gzip, page.timeGoal},
            {"  its blob", double(t.blobBytes), gzip, double(t.gzipBytes), page.sizeGoal, true},
            {"  pigz -9 -p " + cores, t.pigz9, gzip, t.gzip, 0},
            {"  pigz -6 -p " + cores, t.pigz6, gzip, t.gzip, 0}};
}

// The time from the program's start to its window for record, and, when colour is given,
// on to the first paint of the image's top left corner at actual size; with fitPage, on to
// the first paint of the middle of the window at Fit Page (the page's copy at that size
// made first).
double StartToWindow(const std::string& dir, int32_t record, const COLORREF* colour = nullptr, bool fitPage = false)
{
    driver::Program program;
    if (fitPage)
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Pagorex");  // Fit Page is the initial mode
    double start = bench::Now();
    if (!driver::Start(program, ProgramPath(), std::to_string(record) + " " + dir + "host.db", "", fitPage))
        return 1e9;
    double seconds = 1e9;
    if (driver::WaitForMainWindow(program, 60000, 1)) {
        if (fitPage) {
            const SIZE client = driver::ClientSize(program.window);
            for (DWORD begun = GetTickCount(); GetTickCount() - begun < 10000 && seconds == 1e9;)
                if (driver::Pixel(program.window, client.cx / 2, client.cy / 2) != 0)
                    seconds = bench::Now() - start;
        } else if (!colour || driver::WaitForPixel(program.window, 1, 1, *colour, 10000, 1) == *colour) {
            seconds = bench::Now() - start;
        }
    }
    driver::Close(program.window);
    driver::WaitForExit(program);
    driver::Release(program);
    return seconds;
}

// The colour at (1, 1) of the page, where the window shows it at its actual size.
COLORREF TopLeftColour(const Bytes& dib)
{
    int32_t width, height;
    std::memcpy(&width, &dib[4], 4);
    std::memcpy(&height, &dib[8], 4);
    std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    const uint8_t* pixel = &dib[40 + (height - 2) * rowBytes + 3];  // bottom-up rows
    return RGB(pixel[2], pixel[1], pixel[0]);
}

Bytes BigIndex()
{
    Bytes index;
    index.reserve(std::size_t(kIndexRecords) * kIndexRecordSize);
    for (int32_t i = 1; i <= kIndexRecords; ++i) {
        IndexRecord record = Record(i, uint32_t(i) * 1000, 1000, 1, 4000);
        record.deleted = i == kIndexRecords;  // found, and nothing more to read
        Bytes bytes = RecordBytes(record);
        index.insert(index.end(), bytes.begin(), bytes.end());
    }
    return index;
}

double PlainRead(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    static Bytes buffer(1 << 20);
    DWORD read = 0;
    while (ReadFile(file, buffer.data(), DWORD(buffer.size()), &read, nullptr) && read > 0) {
    }
    CloseHandle(file);
    return 0;
}

// Showing the page saved by SaveRows, and finding the last of a million records.
std::vector<bench::Row> StartRows(const std::string& pageDir, const Bytes& dib, const std::string& indexDir)
{
    IndexRecord stored{};
    DecodeIndexRecord(driver::ReadFileBytes(pageDir + "pagorex.idx"), stored);
    Bytes data = driver::ReadFileBytes(pageDir + "pagorex.dat");
    driver::WriteFileBytes(pageDir + "blob.gz", Bytes(data.begin() + stored.dataOffset,
                                                      data.begin() + stored.dataOffset + stored.storedLength));
    driver::WriteFileBytes(indexDir + "pagorex.idx", BigIndex());
    driver::WriteFileBytes(indexDir + "pagorex.dat", {});
    COLORREF corner = TopLeftColour(dib);
    double empty = 1e9, paint = 1e9, fit = 1e9, gunzip = 1e9, last = 1e9, read = 1e9;
    // A first start after the files were written meets a cold program and a cold store;
    // it is not counted. A start of the program under Wine swings by tens of milliseconds,
    // as much as the work measured here, so these rows take the best of five.
    StartToWindow(pageDir, 2);
    StartToWindow(pageDir, 1, &corner);
    StartToWindow(indexDir, kIndexRecords);
    for (int round = 0; round < 5; ++round) {
        double start = bench::Now();
        bench::TimeNativeCommand("gunzip -c < " + Quote(pageDir + "blob.gz") + " > " + Quote(pageDir + "blob.bmp"));
        gunzip = std::min(gunzip, bench::Now() - start);
        empty = std::min(empty, StartToWindow(pageDir, 2));
        paint = std::min(paint, StartToWindow(pageDir, 1, &corner));
        fit = std::min(fit, StartToWindow(pageDir, 1, nullptr, true));
        start = bench::Now();
        PlainRead(indexDir + "pagorex.idx");
        read = std::min(read, bench::Now() - start);
        last = std::min(last, StartToWindow(indexDir, kIndexRecords));
    }
    char note[160];
    std::snprintf(note, sizeof note, "start to window of an empty record (taken off both): %.0f ms", empty * 1e3);
    bench::Note(note);
    return {{"start to first paint of the page", paint - empty, "gunzip of its blob", gunzip, 1.0},
            {"start to first paint at Fit Page", fit - empty, "gunzip of its blob", gunzip, 1.0},
            {"lookup of the last of 1,000,000 records", last - empty, "plain read of the index", read, 2.0}};
}

// A store of plain grey pages as an earlier writer left it.
void LayOutGreyStore(const std::string& dir, int pages, Bytes* data)
{
    Bytes index;
    data->clear();
    for (int i = 0; i < pages; ++i) {
        Bytes page = bench::GreyPageFile(uint32_t(i));
        Bytes record = RecordBytes(Record(i + 1, uint32_t(data->size()), uint32_t(page.size()), 0, 0));
        index.insert(index.end(), record.begin(), record.end());
        data->insert(data->end(), page.begin(), page.end());
    }
    driver::WriteFileBytes(dir + "pagorex.idx", index);
    driver::WriteFileBytes(dir + "pagorex.dat", *data);
    DeleteFileA((dir + "pagorex.new").c_str());
}

struct CompactionRun {
    double seconds = 1e9;
    double peakPrivateBytes = 0;
};

// The start-up compaction in a process of its own, so that its peak memory is its own.
CompactionRun CompactInChild(const std::string& dir)
{
    std::string result = dir + "result.txt";
    DeleteFileA(result.c_str());
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    // A backslash before a closing quote would escape it.
    std::string line = "\"" + std::string(self) + "\" --compact \"" + dir.substr(0, dir.size() - 1) + "\" \"" +
                       result + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    CompactionRun run;
    if (!CreateProcessA(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return run;
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    Bytes text = driver::ReadFileBytes(result);
    text.push_back(0);
    std::sscanf(reinterpret_cast<const char*>(text.data()), "%lf %lf", &run.seconds, &run.peakPrivateBytes);
    return run;
}

int CompactChild(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    HWND window = MakeWindow();
    BenchHost host(std::string(argv[2]) + "\\", window);
    double seconds;
    std::size_t peak;
    {
        bench::PrivateBytesPeak sampler;
        double start = bench::Now();
        CompactStore(host, 0);
        seconds = bench::Now() - start;
        peak = sampler.Peak();
    }
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, "Completed compressing") != 0)
        seconds = 1e9;  // it did not run through
    FILE* out = std::fopen(argv[3], "w");
    if (!out)
        return 1;
    std::fprintf(out, "%.6f %.0f\n", seconds, double(peak));
    std::fclose(out);
    return 0;
}

bench::Row CompactionRow(const std::string& dir)
{
    Bytes data;
    LayOutGreyStore(dir, kFewGreyPages, &data);
    CompactionRun few = CompactInChild(dir);
    double fewBytes = double(data.size());
    LayOutGreyStore(dir, kGreyPages, &data);
    driver::WriteFileBytes(dir + "grey.bin", data);
    CompactionRun best;
    double gzip = 1e9;
    for (int round = 0; round < 3; ++round) {
        double start = bench::Now();
        bench::TimeNativeCommand("gzip -9 < " + Quote(dir + "grey.bin") + " > " + Quote(dir + "grey.gz"));
        gzip = std::min(gzip, bench::Now() - start);
        if (round > 0)
            LayOutGreyStore(dir, kGreyPages, &data);
        CompactionRun run = CompactInChild(dir);
        best.seconds = std::min(best.seconds, run.seconds);
        best.peakPrivateBytes = std::max(best.peakPrivateBytes, run.peakPrivateBytes);
    }
    char note[200];
    std::snprintf(note, sizeof note, "compaction peak private bytes: %s for %d pages (%s), %s for %d pages (%s)",
                  Megabytes(few.peakPrivateBytes).c_str(), kFewGreyPages, Megabytes(fewBytes).c_str(),
                  Megabytes(best.peakPrivateBytes).c_str(), kGreyPages, Megabytes(double(data.size())).c_str());
    bench::Note(note);
    return {"start-up compaction, " + std::to_string(kGreyPages) + " plain grey pages", best.seconds,
            "gzip -9 of the same bytes", gzip, 0.6};
}

std::vector<bench::Row> Measure()
{
    std::vector<bench::Row> rows;
    if (driver::UnixPath("C:\\").empty()) {
        bench::Note("store rows skipped: gzip is run natively, which needs Wine");
        return rows;
    }
    std::string pageDir = Scratch("pgx-bench-page");
    std::string indexDir = Scratch("pgx-bench-index");
    std::string greyDir = Scratch("pgx-bench-grey");
    {
        // The 1-bit page keeps level 9, where the search pays; its goal is no slower than the
        // save was before it chose its effort (0.98 of gzip -9 in a run of this table).
        const SavedPage pages[] = {{"24-bit", bench::A4PageDib(), 0.3, 1.005},
                                   {"24-bit noisy", bench::A4NoisyPageDib(), 0.3, 1.005},
                                   {"8-bit grey", bench::A4GreyPageDib(), 0.3, 1.005},
                                   {"1-bit", bench::A4TextPageDib(), 1.0, 1.0}};
        // The 24-bit page comes last: the start rows show what it left in the store.
        for (int i = 3; i >= 0; --i)
            for (const bench::Row& row : SaveRows(pageDir, pages[i]))
                rows.push_back(row);
        // PAGOREX_BENCH_SAVES_ONLY: the save rows alone, while working on the compressor.
        if (std::getenv("PAGOREX_BENCH_SAVES_ONLY")) {
            for (const std::string& dir : {pageDir, indexDir, greyDir})
                RemoveScratch(dir);
            return rows;
        }
        for (const bench::Row& row : StartRows(pageDir, pages[0].dib, indexDir))
            rows.push_back(row);
    }
    RemoveScratch(indexDir);  // 256 MB the compaction's store may need room for
    rows.push_back(CompactionRow(greyDir));
    RemoveScratch(pageDir);
    RemoveScratch(greyDir);
    return rows;
}

const bool registered = bench::Register(Measure, "store") && bench::RegisterChild("--compact", CompactChild);

}  // namespace
