// The commands that look at a store as a whole: list, verify and stats.
#include "tool_command.h"

#include "store/core/store_names.h"

#include <string>

const char kListHelp[] =
    "usage: pagorex-store list DIR [--json]\n"
    "\n"
    "One line per index record, in index order:\n"
    "  position        the record's place in pagorex.idx (0, 1, ...)\n"
    "  record          the host's record number\n"
    "  state           live: a run for that number loads it; deleted: marked as having no\n"
    "                  image; shadowed: an earlier record has the same number, so no run\n"
    "                  loads it\n"
    "  file            the file that holds its blob: pagorex.dat, or pagorex.new for a record\n"
    "                  an interrupted compaction has moved\n"
    "  offset, stored  where the blob lies in that file, and its length\n"
    "  blob            gzip (compressed) or plain (an image file from an earlier writer)\n"
    "  image           the length of the image file (a Windows bitmap file)\n"
    "  width, height, bits  from the bitmap's header; - where it cannot be read\n"
    "\n"
    "--json writes one JSON object whose \"records\" array holds an object per record.\n";

const char kVerifyHelp[] =
    "usage: pagorex-store verify DIR [--json]\n"
    "\n"
    "Checks every record strictly: its blob lies inside its file; a compressed blob is\n"
    "exactly one gzip member that fills it and decompresses to exactly the record's image\n"
    "length; the image is a bitmap file whose header fits its data, as the program needs to\n"
    "show it. Also reports an index that ends in part of a record, and a compaction that was\n"
    "interrupted (pagorex.new present), with the records that point into pagorex.new.\n"
    "Each problem is one line naming its record; a last line sums up.\n"
    "\n"
    "exit code: 0 the store is sound, 1 it has problems, 2 it cannot be read.\n";

const char kStatsHelp[] =
    "usage: pagorex-store stats DIR [--json]\n"
    "\n"
    "  records        index records: live, deleted, and shadowed by an earlier record of\n"
    "                 the same number\n"
    "  live bytes     stored bytes of the live records' blobs\n"
    "  data file      the size of pagorex.dat\n"
    "  stale bytes    bytes of pagorex.dat that no record points at: what a forced\n"
    "                 compaction frees\n"
    "  plain records  records stored uncompressed by an earlier writer, which a compaction\n"
    "                 compresses\n"
    "  largest image  the live record with the largest image file\n";

namespace {
// list --------------------------------------------------------------------------------

std::string Dimension(const SurveyedRecord& s, int which)
{
    if (!s.blob.bitmap.known)
        return "-";
    switch (which) {
    case 0:
        return std::to_string(s.blob.bitmap.width);
    case 1:
        return std::to_string(s.blob.bitmap.height);
    default:
        return std::to_string(s.blob.bitmap.bitCount);
    }
}

uint64_t ImageLength(const IndexRecord& r)
{
    return r.compressed != 0 ? r.imageLength : r.storedLength;
}

class ListPrinter final : public SurveyVisitor {
public:
    ListPrinter(FILE* out, bool json) : out_(out), json_(json)
    {
        if (!json_)
            std::fprintf(out_, "%8s %11s  %-8s  %-11s %10s %10s  %-5s %10s %6s %6s %4s\n", "position", "record",
                         "state", "file", "offset", "stored", "blob", "image", "width", "height", "bits");
    }
    void Record(const SurveyedRecord& s) override
    {
        const IndexRecord& r = s.record;
        if (!json_) {
            std::fprintf(out_, "%8u %11d  %-8s  %-11s %10u %10u  %-5s %10s %6s %6s %4s\n", s.position, r.recordNumber,
                         RecordStateName(s.state), BlobFileName(s.file), r.dataOffset, r.storedLength,
                         r.compressed != 0 ? "gzip" : "plain", Number(ImageLength(r)).c_str(), Dimension(s, 0).c_str(),
                         Dimension(s, 1).c_str(), Dimension(s, 2).c_str());
            return;
        }
        auto orNull = [&](int which) { return s.blob.bitmap.known ? Dimension(s, which) : std::string("null"); };
        std::fprintf(out_,
                     "%s\n{\"position\":%u,\"record\":%d,\"state\":\"%s\",\"file\":\"%s\",\"offset\":%u,\"stored\":%u,"
                     "\"compressed\":%s,\"imageLength\":%s,\"width\":%s,\"height\":%s,\"bitCount\":%s}",
                     first_ ? "" : ",", s.position, r.recordNumber, RecordStateName(s.state), BlobFileName(s.file),
                     r.dataOffset, r.storedLength, r.compressed != 0 ? "true" : "false",
                     Number(ImageLength(r)).c_str(), orNull(0).c_str(), orNull(1).c_str(), orNull(2).c_str());
        first_ = false;
    }

private:
    FILE* out_;
    bool json_;
    bool first_ = true;
};

}  // namespace

int List(const Invocation& call)
{
    int code = kToolOk;
    OpenedStore store;
    if (!OpenStoreOperand(call, store, code))
        return code;
    if (call.json)
        std::fprintf(call.out, "{\"store\":%s,\"records\":[", Quoted(store.dir).c_str());
    ListPrinter printer(call.out, call.json);
    SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::Header, &printer);
    if (call.json)
        std::fprintf(call.out, "\n],\"indexFragment\":%u,\"complete\":%s}\n", summary.indexFragment,
                     summary.indexReadError ? "false" : "true");
    WarnFragment(store, summary, call.err);
    if (summary.indexReadError) {
        ReportIndexReadError(store, call.err);
        return kToolCannotRead;
    }
    return kToolOk;
}

namespace {
// verify ------------------------------------------------------------------------------

class ProblemPrinter final : public SurveyVisitor {
public:
    ProblemPrinter(FILE* out, bool json, const SurveySummary& sizes) : out_(out), json_(json), sizes_(sizes) {}

    void Record(const SurveyedRecord& s) override
    {
        if (!s.blob.ok())
            Problem(&s, BlobProblemCode(s.blob.problem), BlobProblemText(s.blob.problem) + Detail(s));
        if (s.alsoInNewData)
            Problem(&s, "held-in-new-data",
                    "it lies past the records an interrupted compaction moved, yet pagorex.new holds a blob like its "
                    "own at its offset; the program reads it from pagorex.dat and leaves pagorex.new alone");
    }
    // A problem of the store as a whole.
    void StoreProblem(const char* code, const std::string& text) { Problem(nullptr, code, text); }
    uint32_t count() const { return count_; }

private:
    void Problem(const SurveyedRecord* s, const char* code, const std::string& text)
    {
        ++count_;
        if (!json_) {
            if (s)
                std::fprintf(out_, "#%u record %d (%s, %s): %s\n", s->position, s->record.recordNumber,
                             RecordStateName(s->state), BlobFileName(s->file), text.c_str());
            else
                std::fprintf(out_, "%s\n", text.c_str());
            return;
        }
        std::string where = s ? "\"position\":" + std::to_string(s->position) +
                                     ",\"record\":" + std::to_string(s->record.recordNumber) + ",\"state\":\"" +
                                     RecordStateName(s->state) + "\",\"file\":\"" + BlobFileName(s->file) + "\","
                              : std::string("\"position\":null,\"record\":null,");
        std::fprintf(out_, "%s\n{%s\"problem\":\"%s\",\"text\":%s}", count_ == 1 ? "" : ",", where.c_str(), code,
                     Quoted(text).c_str());
    }
    std::string Detail(const SurveyedRecord& s) const
    {
        const IndexRecord& r = s.record;
        const BlobVerdict& v = s.blob;
        uint64_t fileBytes = s.file == BlobFile::NewData ? sizes_.newDataBytes : sizes_.dataBytes;
        switch (v.problem) {
        case BlobProblem::PastEnd:
        case BlobProblem::RunsPastEnd:
            return ": " + Number(r.storedLength) + " bytes at " + Number(r.dataOffset) + ", the file holds " +
                   Number(fileBytes);
        case BlobProblem::DamagedGzip:
            return v.zlibMessage ? std::string(": ") + v.zlibMessage : "";
        case BlobProblem::WrongImageLength:
            return ": it decompresses to " + Number(v.imageBytes) + " bytes, the record says " +
                   Number(r.imageLength);
        case BlobProblem::ShortBitmap:
            return v.bitmap.known ? ": its header says " + Number(v.bitmap.fileSize) + " bytes, it holds " +
                                        Number(v.imageBytes)
                                  : "";
        case BlobProblem::UnsafeBitmap:
            return v.bitmap.known ? ": " + std::to_string(v.bitmap.width) + " x " + std::to_string(v.bitmap.height) +
                                        ", " + std::to_string(v.bitmap.bitCount) + " bits in " +
                                        Number(v.bitmap.fileSize) + " bytes"
                                  : "";
        default:
            return "";
        }
    }

    FILE* out_;
    bool json_;
    const SurveySummary& sizes_;
    uint32_t count_ = 0;
};

// The state of the store's files as a whole, after the records.
void StoreProblems(const OpenedStore& store, const SurveySummary& s, ProblemPrinter& printer)
{
    if (s.indexFragment > 0)
        printer.StoreProblem("index-fragment", platform::Join(store.dir, kIndexFileName) + ": ends in " +
                                                   std::to_string(s.indexFragment) +
                                                   " bytes that are no whole record (cut short?)");
    if (s.replacementPending)
        printer.StoreProblem("replacement-pending",
                             "pagorex.dat is missing and pagorex.new is left: a compaction stopped just before "
                             "pagorex.new took its name; the program completes that when it next opens the store");
    if (s.newDataPresent) {
        std::string text = "pagorex.new: a compaction was interrupted; ";
        if (s.chain.count == 0)
            text += "no record points into it yet";
        else
            text += "records #0 to #" + std::to_string(s.chain.count - 1) + " (" + std::to_string(s.chain.count) +
                    ") have their blobs there and are read from there";
        text += "; " + Number(s.newDataStaleBytes) +
                " bytes after them belong to no record. A compaction (command 119) finishes the job, the repair "
                "(command 120) undoes it";
        printer.StoreProblem("interrupted-compaction", text);
    }
}
}  // namespace

int Verify(const Invocation& call)
{
    int code = kToolOk;
    OpenedStore store;
    if (!OpenStoreOperand(call, store, code))
        return code;
    if (call.json)
        std::fprintf(call.out, "{\"store\":%s,\"problems\":[", Quoted(store.dir).c_str());
    // The sizes are filled in before the first record is printed.
    SurveySummary sizes;
    sizes.dataBytes = store.data ? store.data->Size() : store.newData ? store.newData->Size() : 0;
    sizes.newDataBytes = store.data && store.newData ? store.newData->Size() : 0;
    ProblemPrinter printer(call.out, call.json, sizes);
    SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::Full, &printer);
    StoreProblems(store, summary, printer);
    bool sound = printer.count() == 0 && !summary.indexReadError;
    if (call.json) {
        std::fprintf(call.out, "\n],\"records\":%u,\"complete\":%s,\"sound\":%s}\n", summary.records,
                     summary.indexReadError ? "false" : "true", sound ? "true" : "false");
    } else if (!summary.indexReadError) {
        std::fprintf(call.out, "%s: %s, %u records checked (%u live, %u deleted, %u shadowed)\n", store.dir.c_str(),
                     sound                  ? "sound"
                     : printer.count() == 1 ? "1 problem"
                                            : (std::to_string(printer.count()) + " problems").c_str(),
                     summary.records,
                     summary.live, summary.deleted, summary.shadowed);
    }
    if (summary.indexReadError) {
        ReportIndexReadError(store, call.err);
        return kToolCannotRead;
    }
    return sound ? kToolOk : kToolProblems;
}

// stats -------------------------------------------------------------------------------

int Stats(const Invocation& call)
{
    int code = kToolOk;
    OpenedStore store;
    if (!OpenStoreOperand(call, store, code))
        return code;
    SurveySummary s = SurveyStore(store.Readers(), SurveyDepth::IndexOnly, nullptr);
    if (s.indexReadError) {
        ReportIndexReadError(store, call.err);
        return kToolCannotRead;
    }
    const char* dataName = s.replacementPending ? kNewDataFileName : kDataFileName;
    if (call.json) {
        std::string largest = s.hasLargest ? "{\"record\":" + std::to_string(s.largestRecord) +
                                                 ",\"position\":" + std::to_string(s.largestPosition) +
                                                 ",\"imageLength\":" + Number(s.largestBytes) + "}"
                                           : "null";
        std::string newData = s.newDataPresent ? "{\"bytes\":" + Number(s.newDataBytes) + ",\"movedRecords\":" +
                                                     std::to_string(s.chain.count) + ",\"staleBytes\":" +
                                                     Number(s.newDataStaleBytes) + "}"
                                               : "null";
        std::fprintf(call.out,
                     "{\"store\":%s,\"records\":%u,\"live\":%u,\"deleted\":%u,\"shadowed\":%u,\"liveBytes\":%s,"
                     "\"dataFile\":\"%s\",\"dataBytes\":%s,\"staleBytes\":%s,\"plainRecords\":%u,\"plainBytes\":%s,"
                     "\"largestImage\":%s,\"indexFragment\":%u,\"newData\":%s}\n",
                     Quoted(store.dir).c_str(), s.records, s.live, s.deleted, s.shadowed, Number(s.liveBytes).c_str(),
                     dataName, Number(s.dataBytes).c_str(), Number(s.staleBytes).c_str(), s.plain,
                     Number(s.plainBytes).c_str(), largest.c_str(), s.indexFragment, newData.c_str());
    } else {
        FILE* out = call.out;
        std::fprintf(out, "records        %u (%u live, %u deleted, %u shadowed)\n", s.records, s.live, s.deleted,
                     s.shadowed);
        std::fprintf(out, "live bytes     %s\n", Number(s.liveBytes).c_str());
        std::fprintf(out, "data file      %s, %s bytes%s\n", dataName, Number(s.dataBytes).c_str(),
                     s.dataPresent ? "" : " (missing)");
        std::fprintf(out, "stale bytes    %s (a forced compaction frees them)\n", Number(s.staleBytes).c_str());
        std::fprintf(out, "plain records  %u (%s bytes, compressed by a compaction)\n", s.plain,
                     Number(s.plainBytes).c_str());
        if (s.hasLargest)
            std::fprintf(out, "largest image  record %d (#%u), %s bytes\n", s.largestRecord, s.largestPosition,
                         Number(s.largestBytes).c_str());
        else
            std::fprintf(out, "largest image  none\n");
        if (s.newDataPresent)
            std::fprintf(out, "pagorex.new    %s bytes: %u records moved by an interrupted compaction, %s bytes "
                              "after them\n",
                         Number(s.newDataBytes).c_str(), s.chain.count, Number(s.newDataStaleBytes).c_str());
    }
    WarnFragment(store, s, call.err);
    return kToolOk;
}
