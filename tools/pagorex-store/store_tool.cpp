// The commands of pagorex-store: list, verify, stats and export.
#include "store_tool.h"

#include "platform.h"
#include "store/core/store_names.h"
#include "store/core/store_survey.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr char kGeneralHelp[] =
    "usage: pagorex-store COMMAND DIR [options]\n"
    "\n"
    "Looks into the Pagorex image store in DIR (pagorex.idx, pagorex.dat, pagorex.new)\n"
    "without changing it. It opens the files read-only and shares them, so it may run while\n"
    "the program is open. While it reads it holds the store's lock shared, as the program's\n"
    "loads do: a save or compaction in progress is waited for (at most --wait SECONDS, 60 by\n"
    "default), and waits in turn until the tool is done. --no-lock reads the store as it is,\n"
    "without the lock (a save in progress may then show as damage).\n"
    "\n"
    "commands:\n"
    "  list DIR [--json]            one line per index record\n"
    "  verify DIR [--json]          checks every record; exit 0 sound, 1 problems, 2 unreadable\n"
    "  stats DIR [--json]           records, live and stale bytes, plain records, largest image\n"
    "  export DIR RECORD FILE.bmp   writes the record's image exactly as stored\n"
    "  export DIR --all OUTDIR      writes every live record's image as OUTDIR/RECORD.bmp\n"
    "\n"
    "'pagorex-store COMMAND --help' tells more about a command.\n";

constexpr char kListHelp[] =
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

constexpr char kVerifyHelp[] =
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

constexpr char kStatsHelp[] =
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

constexpr char kExportHelp[] =
    "usage: pagorex-store export DIR RECORD FILE.bmp\n"
    "       pagorex-store export DIR --all OUTDIR\n"
    "\n"
    "Writes the image stored for RECORD (the record a run for that number loads) to\n"
    "FILE.bmp, byte for byte as the program stored it. The blob is checked as verify checks\n"
    "it: a damaged image is not written. With --all, writes the image of every live record\n"
    "as OUTDIR/RECORD.bmp (OUTDIR is created when missing) and names those it could not\n"
    "write. An existing file of the same name is replaced.\n"
    "\n"
    "exit code: 0 written, 1 a record is missing, deleted or damaged, 2 the store or the\n"
    "output cannot be used.\n";

struct Command {
    const char* name;
    const char* help;
    int (*run)(const struct Invocation& call);
};

struct Invocation {
    std::vector<std::string> operands;
    bool json = false;
    bool all = false;
    bool lock = true;
    unsigned waitSeconds = 60;
    FILE* out;
    FILE* err;
    const Command* command;
};

int Usage(const Invocation& call, const std::string& what)
{
    std::fprintf(call.err, "pagorex-store: %s\nTry 'pagorex-store %s--help'.\n", what.c_str(),
                 call.command ? (std::string(call.command->name) + " ").c_str() : "");
    return kToolCannotRead;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Number(uint64_t value)
{
    return std::to_string(value);
}

// The store's files, opened read-only under the store's lock.
struct OpenedStore {
    std::string dir;
    std::unique_ptr<platform::StoreLockHold> lock;  // declared first: let go of last
    std::unique_ptr<platform::ReadOnlyFile> index, data, newData;
    StoreReaders Readers() const { return {index.get(), data.get(), newData.get()}; }
};

bool OpenOne(const std::string& dir, const char* name, std::unique_ptr<platform::ReadOnlyFile>& file, FILE* err)
{
    std::string error, path = platform::Join(dir, name);
    if (platform::OpenReadOnly(path, file, error) == platform::OpenResult::Failed) {
        std::fprintf(err, "pagorex-store: cannot open %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// Takes the store's lock shared, waiting a bounded while for a program that writes it.
bool LockStore(const Invocation& call, OpenedStore& store)
{
    std::string path = platform::Join(store.dir, kIndexFileName), error;
    constexpr unsigned kPollMs = 100;
    for (unsigned waited = 0;; waited += kPollMs) {
        platform::LockResult result = platform::TryLockStore(path, store.lock, error);
        if (result == platform::LockResult::Held)
            return true;
        if (result == platform::LockResult::Failed) {
            std::fprintf(call.err, "pagorex-store: cannot lock %s against the programs that use it: %s (--no-lock "
                         "reads the store without the lock)\n", path.c_str(), error.c_str());
            return false;
        }
        if (waited == 0)
            std::fprintf(call.err, "pagorex-store: waiting for the program that is saving into or compacting the "
                         "store in %s...\n", store.dir.c_str());
        if (waited >= call.waitSeconds * 1000u) {
            std::fprintf(call.err, "pagorex-store: gave up after %u s: a program is still writing the store in %s; "
                         "try again later, or read it as it is with --no-lock\n", call.waitSeconds,
                         store.dir.c_str());
            return false;
        }
        platform::Sleep(kPollMs);
    }
}

bool OpenStore(const Invocation& call, const std::string& dir, OpenedStore& store)
{
    FILE* err = call.err;
    store.dir = dir;
    if (!platform::IsDirectory(dir)) {
        std::fprintf(err, "pagorex-store: %s: no such directory\n", dir.c_str());
        return false;
    }
    if (call.lock && !LockStore(call, store))
        return false;
    if (!OpenOne(dir, kIndexFileName, store.index, err) || !OpenOne(dir, kDataFileName, store.data, err) ||
        !OpenOne(dir, kNewDataFileName, store.newData, err))
        return false;
    if (!store.index) {
        std::fprintf(err, "pagorex-store: %s: no image store here (%s is missing)\n", dir.c_str(), kIndexFileName);
        return false;
    }
    return true;
}

// The one operand DIR of list, verify and stats, opened; false with the exit code when
// it cannot be.
bool OpenStoreOperand(const Invocation& call, OpenedStore& store, int& code)
{
    if (call.operands.size() != 1 || call.all) {
        code = Usage(call, call.operands.empty() ? "which store? DIR is missing" : "too many operands");
        return false;
    }
    code = kToolCannotRead;
    return OpenStore(call, call.operands[0], store);
}

void ReportIndexReadError(const OpenedStore& store, FILE* err)
{
    std::fprintf(err, "pagorex-store: cannot read %s to its end (a read failed, or the file shrank meanwhile)\n",
                 platform::Join(store.dir, kIndexFileName).c_str());
}

void WarnFragment(const OpenedStore& store, const SurveySummary& summary, FILE* err)
{
    if (summary.indexFragment > 0)
        std::fprintf(err, "pagorex-store: warning: %s ends in %u bytes that are no whole record (cut short?)\n",
                     platform::Join(store.dir, kIndexFileName).c_str(), summary.indexFragment);
}

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

// export ------------------------------------------------------------------------------

// Where the image of a record goes, under a temporary name until it has passed the check.
class ExportFile final : public ImageSink {
public:
    explicit ExportFile(const std::string& target) : file_(target) {}
    bool Open(std::string& error) { return file_.Open(error); }
    bool Write(const uint8_t* bytes, size_t count) override
    {
        failed_ = failed_ || !file_.Write(bytes, count);
        return !failed_;
    }
    bool Commit(std::string& error) { return file_.Commit(error); }
    bool failed() const { return failed_; }

private:
    platform::OutputFile file_;
    bool failed_ = false;
};

bool ParseRecordNumber(const std::string& text, int32_t& number)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX)
        return false;
    number = static_cast<int32_t>(value);
    return true;
}

// Writing over a store file would destroy the store the image comes from.
bool IsStoreFileName(const std::string& path)
{
    std::string name = platform::BaseName(path);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* storeName :
         {kIndexFileName, kDataFileName, kNewDataFileName, kWorkFileName, kSecondWorkFileName, "pagorex.cfg"})
        if (name == storeName)
            return true;
    return false;
}

// The first record of a number, as a run for that number finds it.
class RecordFinder final : public SurveyVisitor {
public:
    explicit RecordFinder(int32_t number) : number_(number) {}
    void Record(const SurveyedRecord& s) override
    {
        if (!found && s.record.recordNumber == number_) {
            found = true;
            record = s;
        }
    }
    bool found = false;
    SurveyedRecord record;

private:
    int32_t number_;
};

// Checks the record's blob, streaming its image into target; the file keeps its name only
// when the blob is sound. Answers the exit code and says why on err.
int ExportRecord(const OpenedStore& store, const SurveyedRecord& s, const std::string& target, FILE* err)
{
    FileReader* file = s.file == BlobFile::NewData ? store.newData.get() : store.data ? store.data.get()
                                                                                      : store.newData.get();
    if (!file) {
        std::fprintf(err, "pagorex-store: record %d: not exported: %s\n", s.record.recordNumber,
                     BlobProblemText(BlobProblem::MissingFile));
        return kToolProblems;
    }
    ExportFile output(target);
    std::string error;
    if (!output.Open(error)) {
        std::fprintf(err, "pagorex-store: cannot write %s: %s\n", target.c_str(), error.c_str());
        return kToolCannotRead;
    }
    ReadWindow window(*file);
    BlobChecker checker;
    BlobVerdict verdict = CheckBlob(window, s.record, checker, false, &output);
    if (output.failed()) {
        std::fprintf(err, "pagorex-store: cannot write %s\n", target.c_str());
        return kToolCannotRead;
    }
    if (!verdict.ok()) {
        std::fprintf(err, "pagorex-store: record %d: not exported: %s\n", s.record.recordNumber,
                     BlobProblemText(verdict.problem));
        return kToolProblems;
    }
    if (!output.Commit(error)) {
        std::fprintf(err, "pagorex-store: cannot write %s: %s\n", target.c_str(), error.c_str());
        return kToolCannotRead;
    }
    return kToolOk;
}

int ExportOne(const Invocation& call, const OpenedStore& store)
{
    int32_t number = 0;
    const std::string& target = call.operands[2];
    if (!ParseRecordNumber(call.operands[1], number))
        return Usage(call, "bad record number '" + call.operands[1] + "': a whole number from " +
                               std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX) + " is needed");
    if (IsStoreFileName(target))
        return Usage(call, "will not write over a store file: " + target);
    RecordFinder finder(number);
    SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::IndexOnly, &finder);
    if (!finder.found && summary.indexReadError) {
        ReportIndexReadError(store, call.err);
        return kToolCannotRead;
    }
    if (!finder.found) {
        std::fprintf(call.err, "pagorex-store: %s: no record %d in the index\n", store.dir.c_str(), number);
        return kToolProblems;
    }
    if (finder.record.state == RecordState::Deleted) {
        std::fprintf(call.err, "pagorex-store: record %d has no image (it is marked deleted)\n", number);
        return kToolProblems;
    }
    int code = ExportRecord(store, finder.record, target, call.err);
    if (code == kToolOk)
        std::fprintf(call.out, "record %d: %s\n", number, target.c_str());
    return code;
}

// Exports each live record as the walk reaches it.
class ExportAll final : public SurveyVisitor {
public:
    ExportAll(const OpenedStore& store, std::string directory, const Invocation& call)
        : store_(store), directory_(std::move(directory)), call_(call)
    {
    }
    void Record(const SurveyedRecord& s) override
    {
        if (s.state != RecordState::Live || fatal)
            return;
        std::string target = platform::Join(directory_, std::to_string(s.record.recordNumber) + ".bmp");
        int code = ExportRecord(store_, s, target, call_.err);
        if (code == kToolOk) {
            ++written;
            std::fprintf(call_.out, "record %d: %s\n", s.record.recordNumber, target.c_str());
        }
        failed += code == kToolProblems;
        fatal = code == kToolCannotRead;
    }
    uint32_t written = 0, failed = 0;
    bool fatal = false;

private:
    const OpenedStore& store_;
    std::string directory_;
    const Invocation& call_;
};

int ExportEvery(const Invocation& call, const OpenedStore& store)
{
    const std::string& directory = call.operands[1];
    if (!platform::MakeDirectory(directory)) {
        std::fprintf(call.err, "pagorex-store: cannot create the directory %s\n", directory.c_str());
        return kToolCannotRead;
    }
    ExportAll exporter(store, directory, call);
    SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::IndexOnly, &exporter);
    if (summary.indexReadError) {
        ReportIndexReadError(store, call.err);
        return kToolCannotRead;
    }
    if (exporter.fatal)
        return kToolCannotRead;
    std::fprintf(call.out, "%u of %u live records exported to %s\n", exporter.written, summary.live,
                 directory.c_str());
    return exporter.failed > 0 ? kToolProblems : kToolOk;
}

int Export(const Invocation& call)
{
    size_t wanted = call.all ? 2 : 3;
    if (call.operands.size() != wanted)
        return Usage(call, call.all ? "export --all takes DIR and OUTDIR" : "export takes DIR, RECORD and FILE.bmp");
    OpenedStore store;
    if (!OpenStore(call, call.operands[0], store))
        return kToolCannotRead;
    return call.all ? ExportEvery(call, store) : ExportOne(call, store);
}

constexpr Command kCommands[] = {
    {"list", kListHelp, List},
    {"verify", kVerifyHelp, Verify},
    {"stats", kStatsHelp, Stats},
    {"export", kExportHelp, Export},
};
}  // namespace

namespace {
bool ParseSeconds(const char* text, unsigned& seconds)
{
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 10);
    if (!std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || errno != 0 || value > 86400)
        return false;
    seconds = static_cast<unsigned>(value);
    return true;
}
}  // namespace

int RunStoreTool(int argc, char** argv, FILE* out, FILE* err)
{
    Invocation call;
    call.out = out;
    call.err = err;
    call.command = nullptr;
    std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h" || first == "help") {
        std::fputs(kGeneralHelp, out);
        return kToolOk;
    }
    for (const Command& command : kCommands)
        if (first == command.name)
            call.command = &command;
    if (!call.command)
        return Usage(call, first.empty() ? "which command?" : "unknown command '" + first + "'");
    bool help = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            help = true;
        else if (arg == "--json" && call.command->run != Export)
            call.json = true;
        else if (arg == "--all" && call.command->run == Export)
            call.all = true;
        else if (arg == "--no-lock")
            call.lock = false;
        else if (arg == "--wait" && i + 1 < argc && ParseSeconds(argv[i + 1], call.waitSeconds))
            ++i;
        else if (arg == "--wait")
            return Usage(call, "--wait takes a number of seconds");
        else if (arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1])))
            return Usage(call, "unknown option '" + arg + "'");
        else
            call.operands.push_back(arg);
    }
    if (help) {
        std::fputs(call.command->help, out);
        return kToolOk;
    }
    int code = call.command->run(call);
    std::fflush(out);
    return code;
}
