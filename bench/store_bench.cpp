// pagorex-store verify over a store of many records (PAGOREX_BENCH_RECORDS, 20000 by
// default): the walk of the index and the strict check of every blob through the tool's
// own file layer, on every core, against reading the same files in 64 KB blocks, against
// reading them and inflating every gzip member on one thread (what any check of the blobs
// must do at least), and against gzip -t of the data file; and the listing, which
// inflates each blob's headers, against the same listing on the calling thread alone.
#include <windows.h>

#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "bench/host_tools.h"
#include "store/core/store_names.h"
#include "store/core/store_survey.h"
#include "support/driver.h"
#include "tools/pagorex-store/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

// A 96 x 64 bitmap file, half noise and half flat, as scans of forms compress.
Bytes Bitmap(uint32_t seed)
{
    const uint32_t width = 96, height = 64, row = width * 3, size = 54 + row * height;
    Bytes file(size, 0xF0);
    std::fill(file.begin(), file.begin() + 54, 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(&file[2], size);
    Put32(&file[10], 54);
    Put32(&file[14], 40);
    Put32(&file[18], width);
    Put32(&file[22], height);
    file[26] = 1;
    file[28] = 24;
    Put32(&file[34], row * height);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t i = 54; i < size; i += 2) {
        state = state * 1103515245u + 12345u;
        file[i] = uint8_t(state >> 16);
    }
    return file;
}

Bytes Gzip(const Bytes& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Lays the store out on disk, each record with a copy of one of a few blobs of its own.
uint64_t WriteStore(const std::string& dir, uint32_t records)
{
    std::vector<Bytes> images, members;
    for (uint32_t i = 0; i < 32; ++i) {
        images.push_back(Bitmap(i));
        members.push_back(Gzip(images.back()));
    }
    FILE* index = std::fopen((dir + kIndexFileName).c_str(), "wb");
    FILE* data = std::fopen((dir + kDataFileName).c_str(), "wb");
    uint32_t offset = 0;
    for (uint32_t i = 0; i < records; ++i) {
        const Bytes& member = members[i % members.size()];
        uint8_t record[256] = {};
        Put32(record + 1, i);
        Put32(record + 5, offset);
        Put32(record + 9, uint32_t(member.size()));
        record[13] = 1;
        Put32(record + 14, uint32_t(images[i % images.size()].size()));
        std::fwrite(record, 1, sizeof record, index);
        std::fwrite(member.data(), 1, member.size(), data);
        offset += uint32_t(member.size());
    }
    std::fclose(index);
    std::fclose(data);
    return offset;
}

std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path)
{
    std::unique_ptr<platform::ReadOnlyFile> file;
    std::string error;
    platform::OpenReadOnly(path, file, error);
    return file;
}

// Reads a file front to back in 64 KB blocks, handing each block on.
template <typename Block>
void ReadThrough(const std::string& path, Block block)
{
    auto file = Open(path);
    std::vector<uint8_t> buffer(64 * 1024);
    for (uint64_t at = 0;;) {
        int64_t got = file->ReadAt(at, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        block(buffer.data(), size_t(got));
        at += uint64_t(got);
    }
}

// Every member of the data file inflated one after the other, as gzip -t tests a file.
void InflateAll(const std::string& path)
{
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    std::vector<uint8_t> out(64 * 1024);
    ReadThrough(path, [&](const uint8_t* bytes, size_t count) {
        z.next_in = const_cast<Bytef*>(bytes);
        z.avail_in = uInt(count);
        while (z.avail_in > 0) {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            if (inflate(&z, Z_NO_FLUSH) == Z_STREAM_END)
                inflateReset(&z);
        }
    });
    inflateEnd(&z);
}

size_t PeakMemory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

std::vector<bench::Row> Measure()
{
    const char* wanted = std::getenv("PAGOREX_BENCH_RECORDS");
    const uint32_t records = wanted ? uint32_t(std::strtoul(wanted, nullptr, 10)) : 20000;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "pgx-bench-store-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    const uint64_t dataBytes = WriteStore(dir, records);

    const size_t before = PeakMemory();
    uint32_t problems = 0;
    auto verify = [&] {
        auto index = Open(dir + kIndexFileName), data = Open(dir + kDataFileName);
        problems += SurveyStore({index.get(), data.get(), nullptr}, SurveyDepth::Full, nullptr).problems;
    };
    auto read = [&] {
        uint64_t sum = 0;
        for (const char* name : {kIndexFileName, kDataFileName})
            ReadThrough(dir + name, [&](const uint8_t* bytes, size_t count) { sum += bytes[0] + count; });
        if (sum == 0)
            std::abort();
    };
    auto readAndInflate = [&] {
        ReadThrough(dir + kIndexFileName, [](const uint8_t*, size_t) {});
        InflateAll(dir + kDataFileName);
    };
    auto list = [&](unsigned threads) {
        auto index = Open(dir + kIndexFileName), data = Open(dir + kDataFileName);
        SurveyStore({index.get(), data.get(), nullptr}, SurveyDepth::Header, nullptr, threads);
    };
    const bench::Timing plain = bench::BestOf(verify, read);
    const bench::Timing inflated = bench::BestOf(verify, readAndInflate);
    const bench::Timing listed = bench::BestOf([&] { list(0); }, [&] { list(1); });
    const std::string unixData = driver::UnixPath(dir + kDataFileName);
    const bench::Timing tested = bench::BestOf(
        verify, [&] { bench::TimeNativeCommand("gzip -t < '" + unixData + "'"); });
    const size_t grown = PeakMemory() - before;
    if (problems != 0)
        std::fprintf(stderr, "store bench: the laid-out store has %u problems\n", problems);

    std::string name = "verify " + std::to_string(records) + " records, " + std::to_string(dataBytes >> 20) +
                       " MB (peak +" + std::to_string(grown >> 20) + " MB)";
    std::vector<bench::Row> rows;
    // From the page cache inflating takes the time, so the plain read is shown for
    // comparison only (it swings with the cache); from a disk reading some 100 MB/s the
    // two come close. The goal is on the walk over what any check of the blobs must do.
    rows.push_back({name, plain.seconds, "read the files, 64 KB blocks", plain.referenceSeconds, 0});
    rows.push_back({name, inflated.seconds, "read them, inflate every blob", inflated.referenceSeconds, 0.8});
    if (!unixData.empty())
        rows.push_back({name, tested.seconds, "gzip -t of the data file", tested.referenceSeconds, 0.3});
    rows.push_back({"list " + std::to_string(records) + " records", listed.seconds, "list on one thread",
                    listed.referenceSeconds, 0.8});
    for (const char* file : {kIndexFileName, kDataFileName})
        DeleteFileA((dir + file).c_str());
    RemoveDirectoryA(dir.c_str());
    return rows;
}

const bool registered = bench::Register(Measure, "verify");

}  // namespace
