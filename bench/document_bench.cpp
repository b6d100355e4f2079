// Documents of many pages in the image store: Save Image of a 50-page black-and-white
// document against gzip -9 of its pages, its load (the first page handed over, and every
// page) against gunzip of its blobs, and finding a record's pages in a million-record index
// against a plain read of the index. Everything in this process, through the store's own
// operations, so that no program start hides the work.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench.h"
#include "bench/host_tools.h"
#include "imaging/test_page.h"
#include "store/core/index_record.h"
#include "store/core/page_mark.h"
#include "store/record_buffer.h"
#include "store/store.h"

namespace {
using bench::Bytes;

constexpr uint32_t kPages = 50;
constexpr int32_t kIndexRecords = 1000000;

// A host that takes every page into memory, as a window makes its bitmap of it, and notes
// when page 1 was taken.
class DocumentHost final : public StoreHost {
public:
    explicit DocumentHost(std::string directory) : directory_(std::move(directory)) {}
    const char* StoreDirectory() override { return directory_.c_str(); }
    int32_t RecordNumber() override { return 1; }
    void SetProgressText(const char*) override {}
    void KeepAlive() override {}
    int Message(const char*, const char*, unsigned style) override { return (style & 0xF) == MB_YESNO ? IDYES : IDOK; }
    void ShowImage(ImageFileSource* image) override
    {
        Take(image);
        firstShown = bench::Now();
    }
    void AddPage(ImageFileSource* image) override { Take(image); }

    double firstShown = 0;
    uint64_t bytes = 0;
    uint32_t pages = 0;

private:
    void Take(ImageFileSource* image)
    {
        ++pages;
        for (int64_t read; image && (read = image->Read(buffer_.data(), buffer_.size())) > 0;)
            bytes += uint64_t(read);
    }
    std::string directory_;
    Bytes buffer_ = Bytes(1 << 20);
};

// A drawn text page at 300 dpi, thresholded to 1 bit as a scanner does: ink black.
Bytes BlackAndWhitePage(uint32_t seed)
{
    testpage::Drawing drawing = testpage::A4();
    drawing.seed = seed;
    testpage::Page page = testpage::Make(drawing);
    const int width = drawing.width, height = drawing.height, rowBytes = (width + 31) / 32 * 4;
    Bytes file(14 + 40 + 8 + size_t(rowBytes) * height, 0);
    auto put = [&file](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + i] = uint8_t(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put(2, uint32_t(file.size()), 4), put(10, 14 + 40 + 8, 4);
    put(14, 40, 4), put(18, uint32_t(width), 4), put(22, uint32_t(height), 4), put(26, 1, 2), put(28, 1, 2);
    put(34, uint32_t(rowBytes) * height, 4), put(38, drawing.pelsPerMeter, 4), put(42, drawing.pelsPerMeter, 4);
    put(46, 2, 4), put(58, 0x00FFFFFF, 4);  // index 0 black, 1 white
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &file[62 + size_t(height - 1 - y) * rowBytes];
        for (int x = 0; x < width; ++x)
            if (page.truth[size_t(y) * width + x] != testpage::kInk)
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    return file;
}

std::string Quote(const std::string& windowsPath)
{
    return "'" + driver::UnixPath(windowsPath) + "'";
}

double TimedCommand(const std::string& command)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round)
        best = std::min(best, bench::TimeNativeCommand(command));
    return best;
}

// The blobs as the save left them, for gunzip: page 1's alone (first.gz), and all of them
// one after another (blobs.gz). Answers the data file's size.
size_t WriteBlobs(const std::string& dir)
{
    Bytes index = driver::ReadFileBytes(dir + "pagorex.idx"), data = driver::ReadFileBytes(dir + "pagorex.dat");
    Bytes first, blobs;
    for (size_t at = 0; at + kIndexRecordSize <= index.size(); at += kIndexRecordSize) {
        IndexRecord record{};
        DecodeIndexRecord(std::span(index).subspan(at), record);
        Bytes blob(data.begin() + record.dataOffset, data.begin() + record.dataOffset + record.storedLength);
        if (std::optional<PageMark> mark = ReadPageMark(record); mark && mark->page == 1)
            first = blob;
        blobs.insert(blobs.end(), blob.begin(), blob.end());
    }
    driver::WriteFileBytes(dir + "first.gz", first);
    driver::WriteFileBytes(dir + "blobs.gz", blobs);
    return data.size();
}

// Save and load of the document.
std::vector<bench::Row> DocumentRows(const std::string& dir, const std::vector<Bytes>& pages)
{
    Bytes all;
    for (const Bytes& page : pages)
        all.insert(all.end(), page.begin(), page.end());
    driver::WriteFileBytes(dir + "pages.bin", all);
    double gzip = TimedCommand("gzip -9 < " + Quote(dir + "pages.bin") + " > " + Quote(dir + "pages.gz"));
    PageFileWriter writer = [&pages](uint32_t page, const char* path) {
        return driver::WriteFileBytes(path, pages[page]) ? 0 : 1;
    };
    DocumentHost host(dir);
    auto save = [&] {
        DeleteFileA((dir + "pagorex.idx").c_str());
        DeleteFileA((dir + "pagorex.dat").c_str());
        return SaveDocument(host, kPages, writer).stored;
    };
    save();  // warms the worker pool
    bench::Timing saved = bench::BestOf([&] { save(); }, [] {}, 3);

    size_t stored = WriteBlobs(dir);
    double gunzipFirst = TimedCommand("gunzip -c < " + Quote(dir + "first.gz") + " > /dev/null");
    double gunzipAll = TimedCommand("gunzip -c < " + Quote(dir + "blobs.gz") + " > /dev/null");
    double firstPage = 1e9, everyPage = 1e9;
    bool whole = true;
    for (int round = 0; round < 3; ++round) {
        DocumentHost reader(dir);
        double start = bench::Now();
        LoadRecordImage(reader);
        everyPage = std::min(everyPage, bench::Now() - start);
        firstPage = std::min(firstPage, reader.firstShown - start);
        whole = whole && reader.pages == kPages && reader.bytes == all.size();
    }
    char note[200];
    std::snprintf(note, sizeof note, "%u-page document: %.1f MB of 1-bit bitmap files, stored in %.2f MB%s", kPages,
                  double(all.size()) / 1048576.0, double(stored) / 1048576.0,
                  whole ? "" : "; THE LOAD DID NOT HAND EVERY PAGE OVER WHOLE");
    bench::Note(note);
    // The goal of the one-page save of a 1-bit page: such pages are compressed hardest of all,
    // to no more than gzip -9 makes of them, which costs about as long as gzip -9.
    return {{"Save Image, 50-page 1-bit document", saved.seconds, "gzip -9 of its pages", gzip, 1.0},
            {"load of it: page 1 handed over", firstPage, "gunzip of page 1's blob", gunzipFirst, 1.3},
            {"load of it: every page handed over", everyPage, "gunzip of all its blobs", gunzipAll, 1.0}};
}

// Record 1's three pages, the last near the end of a million records.
bench::Row FindRow(const std::string& dir)
{
    Bytes index(size_t(kIndexRecords) * kIndexRecordSize);
    for (int32_t i = 0; i < kIndexRecords; ++i) {
        IndexRecord record{};
        record.recordNumber = i == 10 || i == 500000 || i == kIndexRecords - 2 ? 1 : i + 2;
        record.dataOffset = uint32_t(i) * 1000, record.storedLength = 1000, record.compressed = 1;
        EncodeIndexRecord(record, std::span(index).subspan(size_t(i) * kIndexRecordSize));
    }
    driver::WriteFileBytes(dir + "pagorex.idx", index);
    index = Bytes();
    StoreFiles files(dir.c_str());
    size_t found = 0;
    bench::Timing t = bench::BestOf(
        [&] {
            ScopedStoreFile file(files.Open(kIndexFileName));
            found = FindRecordsOfNumber(file.get(), 1).records.size();
        },
        [&] {
            HANDLE file = CreateFileA((dir + "pagorex.idx").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
            static Bytes buffer(1 << 20);
            DWORD read = 0;
            while (ReadFile(file, buffer.data(), DWORD(buffer.size()), &read, nullptr) && read > 0) {
            }
            CloseHandle(file);
        },
        9);
    if (found != 3)
        bench::Note("finding a record's pages: FOUND " + std::to_string(found) + " RECORDS, NOT 3");
    return {"finding a record's pages, 1,000,000 records", t.seconds, "plain read of the index", t.referenceSeconds,
            1.2};
}

std::vector<bench::Row> Measure()
{
    if (driver::UnixPath("C:\\").empty()) {
        bench::Note("document rows skipped: gzip is run natively, which needs Wine");
        return {};
    }
    std::string dir = driver::MakeTempDirectory("pgx-bench-document") + "\\";
    std::vector<Bytes> pages;
    for (uint32_t page = 0; page < kPages; ++page)
        pages.push_back(BlackAndWhitePage(page + 1));
    std::vector<bench::Row> rows = DocumentRows(dir, pages);
    pages.clear();
    DeleteFileA((dir + "pagorex.dat").c_str());
    rows.push_back(FindRow(dir));
    driver::RemoveDirectoryTree(dir.substr(0, dir.size() - 1));
    return rows;
}

const bool registered = bench::Register(Measure, "document");

}  // namespace
