// Arbitrary bytes as a store: an index, a data file and a new data file, walked as every
// command of pagorex-store walks them. ASan and UBSan watch the reads; the checks below
// hold the verdicts to each other:
//  - a blob's verdict does not depend on the pieces it arrives in;
//  - a listing agrees with the full check on every sound blob;
//  - the summary counts what the walk handed out;
//  - the load's stream gives the same image in any pieces, all of it for a sound blob.
//
// Input: byte 0 flags (bit 0 data file present, bit 1 new data file present, bits 2-7 a
// piece size), bytes 1-4 the index's length, bytes 5-8 the new data file's length, then
// the index, the new data file and, in the rest, the data file.
#include "store/core/blob_stream.h"
#include "store/core/store_survey.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void Require(bool condition)
{
    if (!condition)
        std::abort();
}

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Kept final : SurveyVisitor {
    explicit Kept(bool full) : full(full) {}
    bool full;
    std::vector<SurveyedRecord> records;
    void Record(const SurveyedRecord& record) override
    {
        Require(record.position == records.size());
        const BlobVerdict& blob = record.blob;
        if (full && blob.ok()) {
            Require(blob.bitmap.known);
            if (record.record.compressed != 0)
                Require(blob.imageBytes == record.record.imageLength);
        }
        records.push_back(record);
    }
};

// The data file as one blob, whole and in pieces of the given size. Answers whether it is
// sound.
bool SameVerdictInPieces(const uint8_t* data, size_t size, size_t piece, uint32_t imageLength)
{
    IndexRecord record{};
    record.compressed = 1;
    record.storedLength = static_cast<uint32_t>(size);
    record.imageLength = imageLength;
    BlobChecker whole, pieces;
    whole.Start(record);
    whole.Feed(data, size);
    BlobVerdict a = whole.Finish(true);
    pieces.Start(record);
    size_t at = 0;
    while (at < size) {
        size_t n = std::min(piece, size - at);
        bool more = pieces.Feed(data + at, n);
        at += n;
        if (!more)
            break;
    }
    BlobVerdict b = pieces.Finish(at == size);
    Require(a.problem == b.problem);
    Require(a.bitmap.known == b.bitmap.known);
    // Past damage, how much came out before inflate gave up is zlib's affair.
    if (a.problem != BlobProblem::NotGzip && a.problem != BlobProblem::DamagedGzip)
        Require(a.imageBytes == b.imageBytes);
    return a.ok();
}

std::vector<uint8_t> Streamed(const uint8_t* data, size_t size, size_t piece, uint32_t imageLength, bool& failed)
{
    size_t at = 0;
    BlobStream stream(
        [&](void* buffer, size_t count) -> int64_t {
            size_t n = std::min({count, piece, size - at});
            std::memcpy(buffer, data + at, n);
            at += n;
            return int64_t(n);
        },
        true, imageLength);
    std::vector<uint8_t> image;
    uint8_t buffer[4096];
    int64_t got;
    while ((got = stream.Read(buffer, std::min(sizeof buffer, piece * 3))) > 0)
        image.insert(image.end(), buffer, buffer + got);
    failed = got < 0;
    return image;
}

void StreamAgrees(const uint8_t* data, size_t size, size_t piece, uint32_t imageLength, bool sound)
{
    bool wholeFailed, piecesFailed;
    std::vector<uint8_t> whole = Streamed(data, size, SIZE_MAX, imageLength, wholeFailed);
    std::vector<uint8_t> pieces = Streamed(data, size, piece, imageLength, piecesFailed);
    Require(wholeFailed == piecesFailed && whole.size() <= imageLength);
    // Past damage, how much came out before inflate gave up is zlib's affair.
    if (!wholeFailed)
        Require(whole == pieces);
    if (sound)
        Require(!wholeFailed && whole.size() == imageLength);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 9)
        return 0;
    uint8_t flags = bytes[0];
    size_t indexLength = std::min<size_t>(Get32(bytes + 1), size - 9);
    size_t newLength = std::min<size_t>(Get32(bytes + 5), size - 9 - indexLength);
    const uint8_t* index = bytes + 9;
    const uint8_t* newData = index + indexLength;
    const uint8_t* data = newData + newLength;
    size_t dataLength = size - 9 - indexLength - newLength;

    MemoryReader indexFile({index, indexLength}), dataFile({data, dataLength}), newFile({newData, newLength});
    StoreReaders store{&indexFile, flags & 1 ? &dataFile : nullptr, flags & 2 ? &newFile : nullptr};
    Kept full(true), listed(false), alone(true);
    SurveySummary summary = SurveyStore(store, SurveyDepth::Full, &full);
    SurveyStore(store, SurveyDepth::Header, &listed);
    // Checked on the calling thread alone, every record gets the verdict it got on the workers.
    SurveyStore(store, SurveyDepth::Full, &alone, 1);
    Require(full.records.size() == summary.records && listed.records.size() == summary.records);
    Require(summary.live + summary.deleted + summary.shadowed + summary.pages + summary.stale == summary.records);
    Require(!summary.indexReadError && summary.records == indexLength / 256);
    uint32_t problems = 0;
    for (size_t i = 0; i < full.records.size(); ++i) {
        problems += !full.records[i].blob.ok();
        Require(listed.records[i].state == full.records[i].state && listed.records[i].file == full.records[i].file);
        Require(alone.records[i].blob.problem == full.records[i].blob.problem &&
                alone.records[i].blob.imageBytes == full.records[i].blob.imageBytes);
        if (full.records[i].blob.ok()) {
            const BitmapSummary& a = full.records[i].blob.bitmap;
            const BitmapSummary& b = listed.records[i].blob.bitmap;
            Require(b.known && a.width == b.width && a.height == b.height && a.bitCount == b.bitCount);
        }
    }
    Require(problems == summary.problems);
    size_t piece = (flags >> 2) + 1;
    uint32_t imageLength = dataLength >= 4 ? Get32(data + dataLength - 4) : 0;
    bool sound = SameVerdictInPieces(data, dataLength, piece, imageLength);
    // Bounded: a length field of gigabytes is no image a stream is read to the end of.
    if (imageLength <= 64u << 20)
        StreamAgrees(data, dataLength, piece, imageLength, sound);
    return 0;
}
