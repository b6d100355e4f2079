// export: a record's image, several, or every live record's, out of the store into files
// of the formats other systems read, or into one PDF.
#include "export_image.h"
#include "store/core/store_names.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_map>

const char kExportHelp[] =
    "usage: pagorex-store export DIR RECORD FILE [--format bmp|png|pdf] [--force]\n"
    "       pagorex-store export DIR --all OUTDIR [--format bmp|png|pdf] [--force]\n"
    "       pagorex-store export DIR RECORD... --into FILE.pdf [--force]\n"
    "       pagorex-store export DIR --all --into FILE.pdf [--force]\n"
    "\n"
    "Writes the image stored for RECORD (the record a run for that number loads) to FILE.\n"
    "The blob is checked as verify checks it: a damaged image is not written. With --all,\n"
    "writes the image of every live record as OUTDIR/RECORD.bmp (.png, .pdf; OUTDIR is\n"
    "created when missing) and names those it could not write.\n"
    "\n"
    "  --format bmp   the bitmap file byte for byte as the program stored it (the default)\n"
    "  --format png   a PNG image at the bitmap's own depth: 1, 4 and 8 bits with their\n"
    "                 palette (a grey palette as grey), 16-bit and bit-field pixels as 8-bit\n"
    "                 RGB, 24 and 32 bits as RGB (RGBA where the bitmap has an alpha field),\n"
    "                 48 bits as 16-bit RGB; the resolution kept\n"
    "  --format pdf   a PDF page of the image's size at its resolution (300 dpi where the\n"
    "                 bitmap gives none), the pixels as they are, compressed without loss\n"
    "  --into FILE.pdf  every record asked for (with --all every live record, in index\n"
    "                 order) as one page each of one PDF, in that order, each page labelled\n"
    "                 and bookmarked with its record number. The file is written whole or\n"
    "                 not at all: one record that cannot be exported keeps it from being\n"
    "                 written, and every such record is named.\n"
    "  --force        replaces an existing file; without it an existing file is kept and\n"
    "                 the export stops there.\n"
    "\n"
    "exit code: 0 written, 1 a record is missing, deleted or damaged, 2 the store or the\n"
    "output cannot be used.\n";

namespace {
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

// Writing over a store file would destroy the store the image comes from: a target named
// like one is refused, and so is any name that leads to one of the store's own files.
bool IsStoreFile(const OpenedStore& store, const std::string& path)
{
    std::string name = platform::BaseName(path);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* storeName :
         {kIndexFileName, kDataFileName, kNewDataFileName, kWorkFileName, kSecondWorkFileName, "pagorex.cfg"})
        if (name == storeName || platform::SameFile(path, platform::Join(store.dir, storeName)))
            return true;
    return false;
}

// The first record of each number asked for, as a run for that number finds it.
class RecordFinder final : public SurveyVisitor {
public:
    explicit RecordFinder(const std::vector<int32_t>& numbers)
    {
        for (int32_t number : numbers)
            found.emplace(number, std::nullopt);
    }
    void Record(const SurveyedRecord& s) override
    {
        auto it = found.find(s.record.recordNumber);
        if (it != found.end() && !it->second)
            it->second = s;
    }
    std::unordered_map<int32_t, std::optional<SurveyedRecord>> found;
};

// The record numbers among the operands from first on; false when one is no number (said).
bool RecordNumbers(const Invocation& call, size_t first, size_t end, std::vector<int32_t>& numbers, int& code)
{
    for (size_t i = first; i < end; ++i) {
        int32_t number = 0;
        if (!ParseRecordNumber(call.operands[i], number)) {
            code = Usage(call, "bad record number '" + call.operands[i] + "': a whole number from " +
                                   std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX) + " is needed");
            return false;
        }
        numbers.push_back(number);
    }
    return true;
}

// The records of the numbers, looked up in one walk over the index; false when the index
// cannot be read (said).
bool FindRecords(const Invocation& call, const OpenedStore& store, RecordFinder& finder)
{
    SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::IndexOnly, &finder);
    for (const auto& [number, record] : finder.found)
        if (!record && summary.indexReadError) {
            ReportIndexReadError(store, call.err);
            return false;
        }
    return true;
}

// The live record of number, or null with the reason said.
const SurveyedRecord* LiveRecord(const Invocation& call, const OpenedStore& store, const RecordFinder& finder,
                                 int32_t number)
{
    const std::optional<SurveyedRecord>& record = finder.found.at(number);
    if (!record)
        std::fprintf(call.err, "pagorex-store: %s: no record %d in the index\n", store.dir.c_str(), number);
    else if (record->state == RecordState::Deleted)
        std::fprintf(call.err, "pagorex-store: record %d has no image (it is marked deleted)\n", number);
    return record && record->state != RecordState::Deleted ? &*record : nullptr;
}

int ExportOne(const Invocation& call, const OpenedStore& store, ExportFormat format)
{
    std::vector<int32_t> numbers;
    int code = kToolOk;
    const std::string& target = call.operands[2];
    if (!RecordNumbers(call, 1, 2, numbers, code))
        return code;
    if (IsStoreFile(store, target))
        return Usage(call, "will not write over a store file: " + target);
    RecordFinder finder(numbers);
    if (!FindRecords(call, store, finder))
        return kToolCannotRead;
    const SurveyedRecord* record = LiveRecord(call, store, finder, numbers[0]);
    if (!record)
        return kToolProblems;
    Picture picture;
    code = ExportRecord(store, *record, target, format, call.force, picture, call.err);
    if (code == kToolOk)
        std::fprintf(call.out, "record %d: %s\n", numbers[0], target.c_str());
    return code;
}

// Exports each live record as the walk reaches it.
class ExportAll final : public SurveyVisitor {
public:
    ExportAll(const OpenedStore& store, std::string directory, ExportFormat format, const Invocation& call)
        : store_(store), directory_(std::move(directory)), format_(format), call_(call)
    {
    }
    void Record(const SurveyedRecord& s) override
    {
        if (s.state != RecordState::Live || fatal)
            return;
        std::string name = std::to_string(s.record.recordNumber) + "." + FormatName(format_);
        std::string target = platform::Join(directory_, name);
        int code = ExportRecord(store_, s, target, format_, call_.force, picture_, call_.err);
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
    ExportFormat format_;
    const Invocation& call_;
    Picture picture_;
};

int ExportEvery(const Invocation& call, const OpenedStore& store, ExportFormat format)
{
    const std::string& directory = call.operands[1];
    if (!platform::MakeDirectory(directory)) {
        std::fprintf(call.err, "pagorex-store: cannot create the directory %s\n", directory.c_str());
        return kToolCannotRead;
    }
    ExportAll exporter(store, directory, format, call);
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

// The pages of one PDF, a record at a time; records that cannot be exported are named
// and keep the file from being written.
class IntoPdf final : public SurveyVisitor {
public:
    IntoPdf(const OpenedStore& store, OutputSink& out, const Invocation& call)
        : store_(store), pdf_(out), call_(call)
    {
    }
    // --all: every live record as the walk reaches it.
    void Record(const SurveyedRecord& s) override
    {
        if (s.state == RecordState::Live)
            Add(s);
    }
    void Add(const SurveyedRecord& s)
    {
        if (fatal)
            return;
        if (LoadPicture(store_, s, picture_, call_.err) != kToolOk) {
            ++failed;
            return;
        }
        // Once the file cannot be whole, the rest are only checked.
        if (failed > 0)
            return;
        fatal = !pdf_.AddPage(picture_.plan, std::to_string(s.record.recordNumber));
        if (!fatal)
            std::fprintf(call_.out, "record %d: page %zu\n", s.record.recordNumber, pdf_.Pages());
    }
    PdfWriter& pdf() { return pdf_; }
    uint32_t failed = 0;
    bool fatal = false;

private:
    const OpenedStore& store_;
    PdfWriter pdf_;
    const Invocation& call_;
    Picture picture_;
};

// Walks the records asked for into pdf; false when the index cannot be read (said).
bool CollectPages(const Invocation& call, const OpenedStore& store, const std::vector<int32_t>& numbers,
                  IntoPdf& pdf)
{
    if (call.all) {
        SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::IndexOnly, &pdf);
        if (summary.indexReadError)
            ReportIndexReadError(store, call.err);
        return !summary.indexReadError;
    }
    RecordFinder finder(numbers);
    if (!FindRecords(call, store, finder))
        return false;
    for (int32_t number : numbers) {
        const SurveyedRecord* record = LiveRecord(call, store, finder, number);
        if (record)
            pdf.Add(*record);
        else
            ++pdf.failed;
    }
    return true;
}

int ExportInto(const Invocation& call, const OpenedStore& store)
{
    std::vector<int32_t> numbers;
    int code = kToolOk;
    if (!RecordNumbers(call, 1, call.operands.size(), numbers, code))
        return code;
    if (IsStoreFile(store, call.into))
        return Usage(call, "will not write over a store file: " + call.into);
    if (!call.force && platform::Exists(call.into))
        return CannotWrite(call.into, "it exists (--force replaces it)", call.err);
    OutputSink output(call.into, call.force);
    std::string error;
    if (!output.Open(error))
        return CannotWrite(call.into, error, call.err);
    IntoPdf pdf(store, output, call);
    if (!CollectPages(call, store, numbers, pdf))
        return kToolCannotRead;
    if (pdf.fatal)
        return CannotWrite(call.into, FlateFailure(), call.err);
    if (pdf.failed > 0 || pdf.pdf().Pages() == 0) {
        std::fprintf(call.err, "pagorex-store: %s not written: %s\n", call.into.c_str(),
                     pdf.failed > 0 ? (std::to_string(pdf.failed) + " of the records could not be exported").c_str()
                                    : "there is no live record to put in it");
        return kToolProblems;
    }
    if (!pdf.pdf().Finish() || !output.Commit(error))
        return CannotWrite(call.into, error, call.err);
    std::fprintf(call.out, "%zu records exported to %s\n", pdf.pdf().Pages(), call.into.c_str());
    return kToolOk;
}
}  // namespace

int Export(const Invocation& call)
{
    ExportFormat format = call.into.empty() ? ExportFormat::Bmp : ExportFormat::Pdf;
    if (!call.format.empty() && !ParseFormat(call.format, format))
        return Usage(call, "unknown format '" + call.format + "': bmp, png or pdf");
    if (!call.into.empty() && format != ExportFormat::Pdf)
        return Usage(call, "--into writes a PDF: --format " + call.format + " does not go with it");
    bool into = !call.into.empty();
    if (call.operands.empty() ||
        (into ? (call.operands.size() < 2) == !call.all : call.operands.size() != (call.all ? 2u : 3u)))
        return Usage(call, into       ? (call.all ? "export --all --into takes DIR alone"
                                                  : "export --into takes DIR and one RECORD or more")
                           : call.all ? "export --all takes DIR and OUTDIR"
                                      : "export takes DIR, RECORD and FILE");
    OpenedStore store;
    if (!OpenStore(call, call.operands[0], store))
        return kToolCannotRead;
    return into ? ExportInto(call, store) : call.all ? ExportEvery(call, store, format) : ExportOne(call, store, format);
}
