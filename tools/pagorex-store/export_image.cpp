#include "export_image.h"

#include "pagorex_version.h"
#include "png_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

namespace {
// The image file gathered in memory as the check lets it through.
class Gathered final : public ImageSink {
public:
    explicit Gathered(std::vector<uint8_t>& bytes) : bytes_(bytes) { bytes_.clear(); }
    bool Write(const uint8_t* bytes, size_t count) override
    {
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        return true;
    }

private:
    std::vector<uint8_t>& bytes_;
};

// Passes the image file on to an output file as the check lets it through.
class Passed final : public ImageSink {
public:
    explicit Passed(OutputSink& out) : out_(out) {}
    bool Write(const uint8_t* bytes, size_t count) override { return out_.Write(bytes, count); }

private:
    OutputSink& out_;
};

int NotExported(const SurveyedRecord& s, const std::string& why, FILE* err)
{
    std::fprintf(err, "pagorex-store: %s: not exported: %s\n", PageName(s).c_str(), why.c_str());
    return kToolProblems;
}

// Checks the record's blob, streaming its image file into sink; the problem found.
BlobProblem CheckInto(const OpenedStore& store, const SurveyedRecord& s, ImageSink& sink)
{
    FileReader* file = s.file == BlobFile::NewData ? store.newData.get() : store.data ? store.data.get()
                                                                                      : store.newData.get();
    if (!file)
        return BlobProblem::MissingFile;
    ReadWindow window(*file);
    BlobChecker checker;
    return CheckBlob(window, s.record, checker, false, &sink).problem;
}

// Writes the picture as a PNG file or a PDF of one page; false when writing failed.
bool Convert(const SurveyedRecord& s, const Picture& picture, ExportFormat format, const PdfOptions& options,
             OutputSink& out)
{
    if (format == ExportFormat::Png)
        return WritePng(picture.plan, out);
    PdfWriter pdf(out, options);
    return AddPdfPage(pdf, s, picture) && pdf.Finish();
}
}  // namespace

bool OfSeveralPages(const SurveyedRecord& s)
{
    return (s.state == RecordState::Live || s.state == RecordState::Page) && s.mark.pages > 1 && !s.pageProblem;
}

std::string PageName(const SurveyedRecord& s)
{
    return "record " + std::to_string(s.record.recordNumber) +
           (OfSeveralPages(s) ? ", page " + std::to_string(s.mark.page) : "");
}

bool AddPdfPage(PdfWriter& pdf, const SurveyedRecord& s, const Picture& picture)
{
    const std::string number = std::to_string(s.record.recordNumber);
    if (!OfSeveralPages(s))
        return pdf.AddPage(picture.plan, number, "Record " + number);
    const std::string page = std::to_string(s.mark.page);
    return pdf.AddPage(picture.plan, number + "-" + page,
                       "Record " + number + ", page " + page + " of " + std::to_string(s.mark.pages));
}

PdfOptions PdfOptionsOf(const Invocation& call)
{
    PdfOptions options{!call.plainPdf, std::time(nullptr), "pagorex-store " PAGOREX_VERSION};
    // A time past the year 9999 has no date in the files; a value that is no number is
    // taken as not set.
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    char* end = nullptr;
    errno = 0;
    const long long seconds = epoch ? std::strtoll(epoch, &end, 10) : -1;
    if (epoch && *epoch && *end == '\0' && errno == 0 && seconds >= 0)
        options.seconds = std::min<long long>(seconds, 253402300799);
    return options;
}

int CheckRecord(const OpenedStore& store, const SurveyedRecord& s, FILE* err)
{
    class Nowhere final : public ImageSink {
    public:
        bool Write(const uint8_t*, size_t) override { return true; }
    } nowhere;
    BlobProblem problem = CheckInto(store, s, nowhere);
    return problem == BlobProblem::None ? kToolOk : NotExported(s, BlobProblemText(problem), err);
}

const char* FormatName(ExportFormat format)
{
    return format == ExportFormat::Png ? "png" : format == ExportFormat::Pdf ? "pdf" : "bmp";
}

bool ParseFormat(const std::string& name, ExportFormat& format)
{
    for (ExportFormat f : {ExportFormat::Bmp, ExportFormat::Png, ExportFormat::Pdf})
        if (name == FormatName(f)) {
            format = f;
            return true;
        }
    return false;
}

int CannotWrite(const std::string& target, const std::string& why, FILE* err)
{
    std::fprintf(err, "pagorex-store: cannot write %s%s%s\n", target.c_str(), why.empty() ? "" : ": ", why.c_str());
    return kToolCannotRead;
}

int LoadPicture(const OpenedStore& store, const SurveyedRecord& s, Picture& picture, FILE* err)
{
    try {
        // Room for the whole image at once: growing by doubling would copy it over and over.
        uint32_t length = s.record.compressed != 0 ? s.record.imageLength : s.record.storedLength;
        picture.file.reserve(std::min<size_t>(length, kFileHeaderBytes + kDibMaxBytes));
        Gathered gathered(picture.file);
        BlobProblem problem = CheckInto(store, s, gathered);
        if (problem != BlobProblem::None)
            return NotExported(s, BlobProblemText(problem), err);
        // The check has seen a bitmap file whose DIB lies wholly in it and is safe.
        BmpFileHeader header = BmpParseFileHeader(picture.file.data());
        const uint8_t* dib = picture.file.data() + kFileHeaderBytes;
        size_t size = size_t(BmpDibBytes(header));
        if (DibIsRle(dib, size)) {
            if (!DibMemExpandRle(dib, size, picture.expanded))
                return NotExported(s, "its run-length compressed rows cannot be expanded", err);
            dib = picture.expanded.data(), size = picture.expanded.size();
        }
        if (!DibExportPlanFor(dib, size, picture.plan))
            return NotExported(s, "its bit fields leave no room for the rows its header gives", err);
        return kToolOk;
    } catch (const std::bad_alloc&) {
        uint32_t length = s.record.compressed != 0 ? s.record.imageLength : s.record.storedLength;
        return NotExported(s, "not enough memory to hold its image (" + Number(length) + " bytes)", err);
    }
}

int ExportRecord(const OpenedStore& store, const SurveyedRecord& s, const std::string& target, ExportFormat format,
                 const PdfOptions& pdf, bool force, Picture& picture, FILE* err)
{
    if (!force && platform::Exists(target))
        return CannotWrite(target, "it exists (--force replaces it)", err);
    if (format != ExportFormat::Bmp) {
        int code = LoadPicture(store, s, picture, err);
        if (code != kToolOk)
            return code;
    }
    OutputSink output(target, force);
    std::string error;
    if (!output.Open(error))
        return CannotWrite(target, error, err);
    if (format == ExportFormat::Bmp) {
        // The bitmap goes out as it streams from the store; the file keeps its name only
        // when the check passed.
        Passed passed(output);
        BlobProblem problem = CheckInto(store, s, passed);
        if (output.failed())
            return CannotWrite(target, "", err);
        if (problem != BlobProblem::None)
            return NotExported(s, BlobProblemText(problem), err);
    } else if (!Convert(s, picture, format, pdf, output)) {
        return CannotWrite(target, FlateFailure(), err);
    }
    return output.Commit(error) ? kToolOk : CannotWrite(target, error, err);
}
