// export: a record's image, or every live record's, out of the store into files.
#include "tool_command.h"

#include "store/core/store_names.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

const char kExportHelp[] =
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

namespace {
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
}  // namespace

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
