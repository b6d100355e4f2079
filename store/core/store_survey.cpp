// The walk over a whole store.
#include "store/core/store_survey.h"

#include "store/core/blob_checks.h"
#include "store/core/index_scan.h"

#include <algorithm>
#include <optional>

namespace {
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

// The bytes of [offset, offset + length) that lie inside a file of size bytes.
uint64_t Inside(uint64_t offset, uint64_t length, uint64_t size)
{
    uint64_t start = std::min(offset, size), end = std::min(offset + length, size);
    return end - start;
}

// A record past the chain whose place in pagorex.new starts like a gzip member of its own
// image length: the bytes there are still its blob, as the program judges before it cuts
// or deletes pagorex.new. Two small reads, not through the window: such records may lie
// anywhere in the file.
bool LooksHeldInNewData(FileReader& newData, const IndexRecord& record, uint32_t newDataSize, uint32_t chainEnd)
{
    if (!MayPointIntoNewData(record, newDataSize) || record.dataOffset + record.storedLength <= chainEnd)
        return false;
    uint8_t head[3], tail[4];
    uint64_t tailAt = uint64_t(record.dataOffset) + record.storedLength - sizeof tail;
    return newData.ReadAt(record.dataOffset, head, sizeof head) == sizeof head &&
           newData.ReadAt(tailAt, tail, sizeof tail) == sizeof tail && LooksLikeOwnBlob(record, head, tail);
}
}  // namespace

const char* RecordStateName(RecordState state)
{
    switch (state) {
    case RecordState::Live:
        return "live";
    case RecordState::Deleted:
        return "deleted";
    case RecordState::Shadowed:
        return "shadowed";
    }
    return "?";
}

const char* BlobFileName(BlobFile file)
{
    return file == BlobFile::NewData ? "pagorex.new" : "pagorex.dat";
}

SurveySummary SurveyStore(const StoreReaders& store, SurveyDepth depth, SurveyVisitor* visitor, unsigned threads)
{
    SurveySummary summary;
    FileReader* data = store.data;
    FileReader* newData = store.newData;
    // The program renames a pagorex.new left without pagorex.dat before it reads anything.
    if (!data && newData) {
        data = newData;
        newData = nullptr;
        summary.replacementPending = true;
    }
    summary.dataPresent = data != nullptr;
    summary.dataBytes = data ? data->Size() : 0;
    summary.newDataPresent = newData != nullptr;
    summary.newDataBytes = newData ? newData->Size() : 0;
    uint32_t newDataSize = static_cast<uint32_t>(std::min<uint64_t>(summary.newDataBytes, kEmptySlot));
    // An empty pagorex.new holds no moved record.
    bool chainOpen = newDataSize > 0;

    std::optional<BlobChecks> checks;
    if (depth != SurveyDepth::IndexOnly)
        checks.emplace(data, newData, depth == SurveyDepth::Header, threads);
    auto deliver = [&](const SurveyedRecord& checked) {
        if (depth == SurveyDepth::Full && !checked.blob.ok())
            ++summary.problems;
        if (visitor)
            visitor->Record(checked);
    };
    RecordNumberSet seen;
    IndexScan scan(*store.index);
    uint64_t storedInData = 0;
    SurveyedRecord s;
    for (;;) {
        IndexScan::Step step = scan.Next(s.record);
        if (step != IndexScan::Step::Record) {
            summary.indexReadError = step == IndexScan::Step::Error;
            break;
        }
        const IndexRecord& r = s.record;
        s.position = scan.Position();
        s.state = !seen.Insert(r.recordNumber) ? RecordState::Shadowed
                  : r.deleted != 0            ? RecordState::Deleted
                                              : RecordState::Live;
        chainOpen = chainOpen && ExtendMovedChain(summary.chain, r, newDataSize);
        s.file = chainOpen ? BlobFile::NewData : BlobFile::Data;
        s.alsoInNewData =
            !chainOpen && newData && newDataSize > 0 && LooksHeldInNewData(*newData, r, newDataSize, summary.chain.end);
        summary.alsoInNewData += s.alsoInNewData;

        ++summary.records;
        summary.live += s.state == RecordState::Live;
        summary.deleted += s.state == RecordState::Deleted;
        summary.shadowed += s.state == RecordState::Shadowed;
        // A damaged record may claim any length: only what lies inside its file counts.
        const uint64_t stored =
            Inside(r.dataOffset, r.storedLength, s.file == BlobFile::NewData ? summary.newDataBytes : summary.dataBytes);
        if (r.compressed == 0) {
            ++summary.plain;
            summary.plainBytes += stored;
        }
        uint64_t imageBytes = r.compressed != 0 ? r.imageLength : r.storedLength;
        if (s.state == RecordState::Live) {
            summary.liveBytes += stored;
            if (!summary.hasLargest || imageBytes > summary.largestBytes) {
                summary.hasLargest = true;
                summary.largestRecord = r.recordNumber;
                summary.largestPosition = s.position;
                summary.largestBytes = imageBytes;
            }
        }
        if (s.file == BlobFile::Data)
            storedInData += Inside(r.dataOffset, r.storedLength, summary.dataBytes);

        s.blob = BlobVerdict{};
        if (checks)
            checks->Add(s, deliver);
        else
            deliver(s);
    }
    if (checks)
        checks->Finish(deliver);
    summary.indexFragment = scan.FragmentBytes();
    summary.staleBytes = summary.dataBytes - std::min(summary.dataBytes, storedInData);
    summary.newDataStaleBytes = summary.newDataBytes - std::min<uint64_t>(summary.newDataBytes, summary.chain.end);
    return summary;
}

bool RecordNumberSet::Insert(int32_t number)
{
    uint32_t key = static_cast<uint32_t>(number);
    if (key == kEmptySlot) {
        bool added = !holdsEmptyKey_;
        holdsEmptyKey_ = true;
        return added;
    }
    if ((used_ + 1) * 2 > slots_.size())
        Grow();
    size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 40) & mask;; i = (i + 1) & mask) {
        if (slots_[i] == key)
            return false;
        if (slots_[i] == kEmptySlot) {
            slots_[i] = key;
            ++used_;
            return true;
        }
    }
}

void RecordNumberSet::Grow()
{
    std::vector<uint32_t> old;
    old.swap(slots_);
    slots_.assign(std::max<size_t>(1024, old.size() * 2), kEmptySlot);
    used_ = 0;
    for (uint32_t key : old)
        if (key != kEmptySlot)
            Insert(static_cast<int32_t>(key));
}
