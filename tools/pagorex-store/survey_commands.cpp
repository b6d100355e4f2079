// The commands that look at a store as a whole: list, verify and stats.
#include "tool_command.h"

#include "store/core/store_names.h"

#include <optional>
#include <string>

const char kListHelp[] =
    "usage: pagorex-store list DIR [--json]\n"
    "\n"
    "One line per index record, in index order:\n"
    "  position        the record's place in pagorex.idx (0, 1, ...)\n"
    "  record          the host's record number\n"
    "  state           live: a run for that number loads it (page 1 of a document of\n"
    "                  several pages); page: a further page of that document; deleted:\n"
    "                  marked as having no image; shadowed: an earlier record has the same\n"
    "                  number and this one is no page of its document, so no run loads it;\n"
    "                  stale: a page left by a save of the document that did not finish\n"
    "                  (another generation than page 1's), which the next save reuses\n"
    "  file            the file that holds its blob: pagorex.dat, or pagorex.new for a record\n"
    "                  an interrupted compaction has moved\n"
    "  offset, stored  where the blob lies in that file, and its length\n"
    "  blob            gzip (compressed) or plain (an image file from an earlier writer)\n"
    "  image           the length of the image file (a Windows bitmap file)\n"
    "  width, height, bits  from the bitmap's header; - where it cannot be read\n"
    "  page            the page mark the record carries: 2/3 for page 2 of 3; - for none (a\n"
    "                  record that is a document of one page)\n"
    "\n"
    "--json writes one JSON object whose \"records\" array holds an object per record\n"
    "(\"page\", \"pages\" and \"generation\" of its mark, null without one).\n";

const char kVerifyHelp[] =
    "usage: pagorex-store verify DIR [--json]\n"
    "\n"
    "Checks every record strictly: its blob lies inside its file; a compressed blob is\n"
    "exactly one gzip member that fills it and decompresses to exactly the record's image\n"
    "length; the image is a bitmap file whose header fits its data, as the program needs to\n"
    "show it. Checks every document of several pages: each page is there once\n"
    "(missing-page, duplicate-page), no page of an unfinished save is left (stale-page), and\n"
    "the record a run loads is page 1 (misplaced-page); a problem of a document says how\n"
    "the program makes it readable again with every sound page. Also reports an index that\n"
    "ends in part of a record, and a compaction that was interrupted (pagorex.new present),\n"
    "with the records that point into pagorex.new.\n"
    "Each problem is one line naming its record (and page); a last line sums up.\n"
    "\n"
    "exit code: 0 the store is sound, 1 it has problems, 2 it cannot be read.\n";

const char kStatsHelp[] =
    "usage: pagorex-store stats DIR [--json]\n"
    "\n"
    "  records        index records: live, further pages of documents, deleted, shadowed by\n"
    "                 an earlier record of the same number, stale pages of unfinished saves\n"
    "  documents      the live records, how many of them have several pages, their pages,\n"
    "                 and the pages missing from them\n"
    "  live bytes     stored bytes of the blobs of the live records and their pages\n"
    "  data file      the size of pagorex.dat\n"
    "  stale bytes    bytes of pagorex.dat that no record points at: what a forced\n"
    "                 compaction frees\n"
    "  plain records  records stored uncompressed by an earlier writer, which a compaction\n"
    "                 compresses\n"
    "  largest image  the live record or page with the largest image file\n";

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

// The page column: 2/3 for page 2 of 3, - for a record without a mark.
std::string PageColumn(const SurveyedRecord& s)
{
    return s.mark.pages == 0 ? "-" : std::to_string(s.mark.page) + "/" + std::to_string(s.mark.pages);
}

// The mark's fields in JSON.
std::string MarkFields(const SurveyedRecord& s)
{
    if (s.mark.pages == 0)
        return "\"page\":null,\"pages\":null,\"generation\":null";
    return "\"page\":" + std::to_string(s.mark.page) + ",\"pages\":" + std::to_string(s.mark.pages) +
           ",\"generation\":" + std::to_string(s.mark.generation);
}

class ListPrinter final : public SurveyVisitor {
public:
    ListPrinter(FILE* out, bool json) : out_(out), json_(json)
    {
        if (!json_)
            std::fprintf(out_, "%8s %11s  %-8s  %-11s %10s %10s  %-5s %10s %6s %6s %4s  %s\n", "position", "record",
                         "state", "file", "offset", "stored", "blob", "image", "width", "height", "bits", "page");
    }
    void Record(const SurveyedRecord& s) override
    {
        const IndexRecord& r = s.record;
        if (!json_) {
            std::fprintf(out_, "%8u %11d  %-8s  %-11s %10u %10u  %-5s %10s %6s %6s %4s  %s\n", s.position,
                         r.recordNumber, RecordStateName(s.state), BlobFileName(s.file), r.dataOffset, r.storedLength,
                         r.compressed != 0 ? "gzip" : "plain", Number(ImageLength(r)).c_str(), Dimension(s, 0).c_str(),
                         Dimension(s, 1).c_str(), Dimension(s, 2).c_str(), PageColumn(s).c_str());
            return;
        }
        auto orNull = [&](int which) { return s.blob.bitmap.known ? Dimension(s, which) : std::string("null"); };
        std::fprintf(out_,
                     "%s\n{\"position\":%u,\"record\":%d,\"state\":\"%s\",\"file\":\"%s\",\"offset\":%u,\"stored\":%u,"
                     "\"compressed\":%s,\"imageLength\":%s,\"width\":%s,\"height\":%s,\"bitCount\":%s,%s}",
                     first_ ? "" : ",", s.position, r.recordNumber, RecordStateName(s.state), BlobFileName(s.file),
                     r.dataOffset, r.storedLength, r.compressed != 0 ? "true" : "false",
                     Number(ImageLength(r)).c_str(), orNull(0).c_str(), orNull(1).c_str(), orNull(2).c_str(),
                     MarkFields(s).c_str());
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
// How many records are in each state: further pages and stale pages where there are any.
std::string StateCounts(const SurveySummary& s)
{
    std::string counts = std::to_string(s.live) + " live";
    if (s.pages > 0)
        counts += ", " + std::to_string(s.pages) + (s.pages == 1 ? " further page" : " further pages");
    counts += ", " + std::to_string(s.deleted) + " deleted, " + std::to_string(s.shadowed) + " shadowed";
    if (s.stale > 0)
        counts += ", " + std::to_string(s.stale) + " stale";
    return counts;
}

// verify ------------------------------------------------------------------------------

// Where a problem lies: a record, and the page it concerns (pages 0: none).
struct Place {
    uint32_t position;
    int32_t record;
    RecordState state;
    BlobFile file;
    uint32_t page, pages;
    uint32_t lastPage = 0;  // a run of missing pages: page..lastPage, named in the text
};

Place PlaceOf(const SurveyedRecord& s)
{
    return {s.position, s.record.recordNumber, s.state, s.file, s.mark.page, s.mark.pages};
}

// How a document is made whole again, the tool never writing the store.
std::string Remedy(int32_t record, const char* without)
{
    return ". The other pages are kept: open record " + std::to_string(record) +
           " in the program, which shows every sound page in order, and Save Image stores the document without " +
           without;
}

std::string PagesText(uint32_t first, uint32_t last, uint32_t pages)
{
    return (first == last ? "page " + std::to_string(first) + " of "
                          : "pages " + std::to_string(first) + " to " + std::to_string(last) + " of ") +
           std::to_string(pages);
}

std::string PageProblemText(const SurveyedRecord& s)
{
    const std::string page = PagesText(s.mark.page, s.mark.page, s.mark.pages);
    const std::string reuse = "; nothing is lost, and the next save of record " +
                              std::to_string(s.record.recordNumber) + " reuses this record";
    switch (*s.pageProblem) {
    case PageProblem::Duplicate:
        return "a second record for " + page + ": an earlier record holds that page, and the program shows that one" +
               reuse;
    case PageProblem::Stale:
        return page + " of a save that did not finish (generation " + std::to_string(s.mark.generation) +
               "), no part of the document a run loads" + reuse;
    case PageProblem::NotFirst:
        return "the record a run loads carries the mark of " + page +
               ", not of page 1: page 1 is lost, and the program shows this page as the record's only image (the "
               "document's other pages are listed as stale); Save Image in the program stores it so";
    case PageProblem::Missing:
        break;
    }
    return "";
}

class ProblemPrinter final : public SurveyVisitor {
public:
    ProblemPrinter(FILE* out, bool json, const SurveySummary& sizes) : out_(out), json_(json), sizes_(sizes) {}

    void Record(const SurveyedRecord& s) override
    {
        const bool ofDocument = (s.state == RecordState::Live || s.state == RecordState::Page) && s.mark.pages > 1 &&
                                !s.pageProblem;
        if (!s.blob.ok())
            Problem(PlaceOf(s), BlobProblemCode(s.blob.problem),
                    BlobProblemText(s.blob.problem) + Detail(s) +
                        (ofDocument ? Remedy(s.record.recordNumber, "this one") : ""));
        if (s.alsoInNewData)
            Problem(PlaceOf(s), "held-in-new-data",
                    "it lies past the records an interrupted compaction moved, yet pagorex.new holds a blob like its "
                    "own at its offset; the program reads it from pagorex.dat and leaves pagorex.new alone");
        if (s.pageProblem)
            Problem(PlaceOf(s), PageProblemCode(*s.pageProblem), PageProblemText(s));
    }
    void Missing(const MissingPages& m) override
    {
        Problem(Place{m.position, m.recordNumber, RecordState::Live, m.file, m.first, m.pages, m.last}, "missing-page",
                PagesText(m.first, m.last, m.pages) + (m.first == m.last ? " is" : " are") +
                    " missing: no record holds " + (m.first == m.last ? "it" : "them") +
                    Remedy(m.recordNumber, m.first == m.last ? "it" : "them"));
    }
    // A problem of the store as a whole.
    void StoreProblem(const char* code, const std::string& text) { Problem(std::nullopt, code, text); }
    uint32_t count() const { return count_; }

private:
    void Problem(const std::optional<Place>& at, const char* code, const std::string& text)
    {
        ++count_;
        if (!json_) {
            if (at)
                std::fprintf(out_, "#%u record %d%s (%s, %s): %s\n", at->position, at->record,
                             at->pages && !at->lastPage ? (", " + PagesText(at->page, at->page, at->pages)).c_str() : "",
                             RecordStateName(at->state), BlobFileName(at->file), text.c_str());
            else
                std::fprintf(out_, "%s\n", text.c_str());
            return;
        }
        std::string where = "\"position\":null,\"record\":null,";
        if (at) {
            where = "\"position\":" + std::to_string(at->position) + ",\"record\":" + std::to_string(at->record) +
                    ",\"state\":\"" + RecordStateName(at->state) + "\",\"file\":\"" + BlobFileName(at->file) +
                    "\",\"page\":" + (at->pages ? std::to_string(at->page) : "null") +
                    (at->lastPage ? ",\"lastPage\":" + std::to_string(at->lastPage) : "") +
                    ",\"pages\":" + (at->pages ? std::to_string(at->pages) : "null") + ",";
        }
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
        std::fprintf(call.out, "%s: %s, %u records checked (%s)\n", store.dir.c_str(),
                     sound                  ? "sound"
                     : printer.count() == 1 ? "1 problem"
                                            : (std::to_string(printer.count()) + " problems").c_str(),
                     summary.records, StateCounts(summary).c_str());
    }
    if (summary.indexReadError) {
        ReportIndexReadError(store, call.err);
        return kToolCannotRead;
    }
    return sound ? kToolOk : kToolProblems;
}

// stats -------------------------------------------------------------------------------

namespace {
void StatsJson(const OpenedStore& store, const SurveySummary& s, const char* dataName, FILE* out)
{
    std::string largest = s.hasLargest ? "{\"record\":" + std::to_string(s.largestRecord) +
                                             ",\"position\":" + std::to_string(s.largestPosition) +
                                             ",\"imageLength\":" + Number(s.largestBytes) + "}"
                                       : "null";
    std::string newData = s.newDataPresent ? "{\"bytes\":" + Number(s.newDataBytes) + ",\"movedRecords\":" +
                                                 std::to_string(s.chain.count) + ",\"staleBytes\":" +
                                                 Number(s.newDataStaleBytes) + "}"
                                           : "null";
    std::string documents = "\"pageRecords\":" + std::to_string(s.pages) + ",\"stale\":" + std::to_string(s.stale) +
                            ",\"documents\":" + std::to_string(s.live) + ",\"documentsOfSeveralPages\":" +
                            std::to_string(s.documents) + ",\"pages\":" + std::to_string(s.live + s.pages) +
                            ",\"missingPages\":" + Number(s.missingPages);
    std::fprintf(out,
                 "{\"store\":%s,\"records\":%u,\"live\":%u,\"deleted\":%u,\"shadowed\":%u,\"liveBytes\":%s,%s,"
                 "\"dataFile\":\"%s\",\"dataBytes\":%s,\"staleBytes\":%s,\"plainRecords\":%u,\"plainBytes\":%s,"
                 "\"largestImage\":%s,\"indexFragment\":%u,\"newData\":%s}\n",
                 Quoted(store.dir).c_str(), s.records, s.live, s.deleted, s.shadowed, Number(s.liveBytes).c_str(),
                 documents.c_str(), dataName, Number(s.dataBytes).c_str(), Number(s.staleBytes).c_str(),
                 s.plain, Number(s.plainBytes).c_str(), largest.c_str(), s.indexFragment, newData.c_str());
}

void StatsText(const SurveySummary& s, const char* dataName, FILE* out)
{
    std::fprintf(out, "records        %u (%s)\n", s.records, StateCounts(s).c_str());
    std::fprintf(out, "documents      %u (%u of several pages), %u pages%s\n", s.live, s.documents, s.live + s.pages,
                 s.missingPages == 0 ? ""
                                     : (", " + Number(s.missingPages) +
                                        (s.missingPages == 1 ? " page missing (verify names it)"
                                                             : " pages missing (verify names them)"))
                                           .c_str());
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
}  // namespace

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
    if (call.json)
        StatsJson(store, s, dataName, call.out);
    else
        StatsText(s, dataName, call.out);
    WarnFragment(store, s, call.err);
    return kToolOk;
}
