// export: a record's document (every page of it, or one), several, or every live
// record's, out of the store into files of the formats other systems read, or into one PDF.
#include "document_finder.h"
#include "export_image.h"
#include "store/core/store_names.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

const char kExportHelp[] =
    "usage: pagorex-store export DIR RECORD FILE [--format bmp|png|pdf] [--page K] [--force]\n"
    "       pagorex-store export DIR --all OUTDIR [--format bmp|png|pdf] [--force]\n"
    "       pagorex-store export DIR RECORD... --into FILE.pdf [--force]\n"
    "       pagorex-store export DIR --all --into FILE.pdf [--force]\n"
    "       (each with a PDF: [--plain-pdf])\n"
    "\n"
    "Writes the image stored for RECORD (the record a run for that number loads) to FILE;\n"
    "of a document of several pages, every page: one PDF of them all in order, or with bmp\n"
    "and png one file a page, named FILE with -pK before its extension (out.png:\n"
    "out-p1.png, out-p2.png, ...). --page K writes page K alone, to FILE itself. Every blob\n"
    "is checked as verify checks it: a damaged image is not written, nor is a document with\n"
    "a damaged or missing page (the page is named), unless --page asks for a sound page of\n"
    "it. With --all, writes the document of every live record as OUTDIR/RECORD.bmp (.png,\n"
    ".pdf; OUTDIR/RECORD-pK.bmp a page for several pages in bmp or png; OUTDIR is created\n"
    "when missing) and names those it could not write.\n"
    "\n"
    "  --format bmp   the bitmap file byte for byte as the program stored it (the default)\n"
    "  --format png   a PNG image at the bitmap's own depth: 1, 4 and 8 bits with their\n"
    "                 palette (a grey palette as grey), 16-bit and bit-field pixels as 8-bit\n"
    "                 RGB, 24 and 32 bits as RGB (RGBA where the bitmap has an alpha field),\n"
    "                 48 bits as 16-bit RGB; the resolution kept\n"
    "  --format pdf   a PDF page of the image's size at its resolution (300 dpi where the\n"
    "                 bitmap gives none), the pixels as they are, compressed without loss\n"
    "                 (black-and-white pages as JBIG2, the others with Flate). The file is\n"
    "                 one archives accept, PDF/A-2b: its pages are meant in sRGB (a profile\n"
    "                 in the file says so), it carries its producer and dates as metadata,\n"
    "                 and a page with an alpha field shows its colours as the program shows\n"
    "                 them, without the alpha. Its dates are the time of the export, or\n"
    "                 SOURCE_DATE_EPOCH (seconds since 1970, UTC) where that is set: the same\n"
    "                 export of the same store then gives the same file.\n"
    "  --into FILE.pdf  every page of every record asked for (with --all every live record,\n"
    "                 in index order) as the pages of one PDF, in that order. A record's page\n"
    "                 is labelled and bookmarked with its record number (7), a page of a\n"
    "                 document of several pages with the number and the page (7-2, \"Record\n"
    "                 7, page 2 of 3\"). The file is written whole or not at all: one record\n"
    "                 that cannot be exported keeps it from being written, and every such\n"
    "                 record is named.\n"
    "  --page K       page K of the record's document alone (1 is the record's image)\n"
    "  --plain-pdf    a plain PDF instead: no profile, metadata or identifier, an alpha\n"
    "                 field kept as the page's soft mask\n"
    "  --force        replaces an existing file; without it an existing file is kept and\n"
    "                 the export stops there.\n"
    "\n"
    "exit code: 0 written, 1 a record is missing, deleted or damaged, or a page is missing\n"
    "or damaged, 2 the store or the output cannot be used.\n";

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

// FILE with -pK before the extension of its last component: the file of page K.
std::string PageTarget(const std::string& target, uint32_t page)
{
    const std::string name = platform::BaseName(target);
    size_t dot = name.rfind('.');
    size_t at = dot == std::string::npos || dot == 0 ? target.size() : target.size() - name.size() + dot;
    return target.substr(0, at) + "-p" + std::to_string(page) + target.substr(at);
}

int Refused(int32_t number, const std::string& why, FILE* err)
{
    std::fprintf(err, "pagorex-store: record %d: not exported: %s\n", number, why.c_str());
    return kToolProblems;
}

// The documents asked for, found in one walk over the index; false when the index cannot
// be read to its end (said): a page past the failure would be missed.
bool FindDocuments(const Invocation& call, const OpenedStore& store, DocumentFinder& finder)
{
    SurveySummary summary = SurveyStore(store.Readers(), SurveyDepth::IndexOnly, &finder);
    if (summary.indexReadError)
        ReportIndexReadError(store, call.err);
    finder.Finish();
    return !summary.indexReadError;
}

// The pages of the live record of number, or none with the reason said.
std::span<const PageRef> LiveDocument(const Invocation& call, const OpenedStore& store, const DocumentFinder& finder,
                                      int32_t number)
{
    const FirstRecord& first = finder.firsts.at(number);
    if (!first.found)
        std::fprintf(call.err, "pagorex-store: %s: no record %d in the index\n", store.dir.c_str(), number);
    else if (first.deleted)
        std::fprintf(call.err, "pagorex-store: record %d has no image (it is marked deleted)\n", number);
    return first.found && !first.deleted ? finder.PagesOf(first.position) : std::span<const PageRef>();
}

// What every page an export writes needs.
struct Exporter {
    const Invocation& call;
    const OpenedStore& store;
    ExportFormat format;
    PdfOptions pdf;
    Picture picture;  // kept from page to page: an export holds no more than its largest

    // The page's record read again; false with the reason said.
    bool Read(const PageRef& page, SurveyedRecord& s) const
    {
        if (ReadPage(store, page, s))
            return true;
        std::fprintf(call.err, "pagorex-store: record %d: its index record #%u changed while the export ran (was "
                     "the store read with --no-lock?); export it again\n", page.number, page.position);
        return false;
    }
    // Writes the page to target in the export's format; the exit code.
    int Page(const PageRef& page, const std::string& target)
    {
        SurveyedRecord s;
        if (!Read(page, s))
            return kToolCannotRead;
        int code = ExportRecord(store, s, target, format, pdf, call.force, picture, call.err);
        if (code == kToolOk)
            std::fprintf(call.out, "%s: %s\n", PageName(s).c_str(), target.c_str());
        return code;
    }
};

// Every page of a document of several pages into one PDF at target.
int PdfOfPages(Exporter& x, std::span<const PageRef> pages, const std::string& target)
{
    if (!x.call.force && platform::Exists(target))
        return CannotWrite(target, "it exists (--force replaces it)", x.call.err);
    OutputSink output(target, x.call.force);
    std::string error;
    if (!output.Open(error))
        return CannotWrite(target, error, x.call.err);
    PdfWriter pdf(output, x.pdf);
    for (const PageRef& page : pages) {
        SurveyedRecord s;
        if (!x.Read(page, s))
            return kToolCannotRead;
        if (int code = LoadPicture(x.store, s, x.picture, x.call.err); code != kToolOk)
            return code;
        if (!AddPdfPage(pdf, s, x.picture))
            return CannotWrite(target, FlateFailure(), x.call.err);
    }
    if (!pdf.Finish() || !output.Commit(error))
        return CannotWrite(target, error, x.call.err);
    std::fprintf(x.call.out, "record %d: %s (%zu pages)\n", pages[0].number, target.c_str(), pages.size());
    return kToolOk;
}

// Every page of a document of several pages as a file of its own: each is checked, and
// each name free, before the first is written.
int FilesOfPages(Exporter& x, std::span<const PageRef> pages, const std::string& target)
{
    for (const PageRef& page : pages) {
        const std::string name = PageTarget(target, page.page);
        if (IsStoreFile(x.store, name))
            return Usage(x.call, "will not write over a store file: " + name);
        if (!x.call.force && platform::Exists(name))
            return CannotWrite(name, "it exists (--force replaces it)", x.call.err);
        SurveyedRecord s;
        if (!x.Read(page, s))
            return kToolCannotRead;
        if (int code = CheckRecord(x.store, s, x.call.err); code != kToolOk)
            return code;
    }
    for (const PageRef& page : pages)
        if (int code = x.Page(page, PageTarget(target, page.page)); code != kToolOk)
            return code;
    return kToolOk;
}

// The record's whole document to target: its image, or every page of it.
int ExportDocument(Exporter& x, std::span<const PageRef> pages, const DocumentFault* fault, const std::string& target)
{
    if (fault)
        return Refused(pages[0].number, fault->why, x.call.err);
    if (pages.size() == 1)
        return x.Page(pages[0], target);
    return x.format == ExportFormat::Pdf ? PdfOfPages(x, pages, target) : FilesOfPages(x, pages, target);
}

// Page K of the record's document alone to target, whatever its other pages are.
int ExportOnePage(Exporter& x, std::span<const PageRef> pages, const DocumentFault* fault, const std::string& target)
{
    const uint32_t wanted = x.call.page, count = pages[0].pages;
    if (fault && fault->anyPage)
        return Refused(pages[0].number, fault->why, x.call.err);
    for (const PageRef& page : pages)
        if (page.page == wanted)
            return x.Page(page, target);
    return Refused(pages[0].number,
                   wanted > count ? "it has no page " + std::to_string(wanted) + " (" + std::to_string(count) +
                                        (count == 1 ? " page)" : " pages)")
                                  : "page " + std::to_string(wanted) + " of " + std::to_string(count) + " is missing",
                   x.call.err);
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
    DocumentFinder finder(false, numbers);
    if (!FindDocuments(call, store, finder))
        return kToolCannotRead;
    std::span<const PageRef> pages = LiveDocument(call, store, finder, numbers[0]);
    if (pages.empty())
        return kToolProblems;
    Exporter x{call, store, format, PdfOptionsOf(call), {}};
    const DocumentFault* fault = finder.FaultOf(pages[0].document);
    return call.page ? ExportOnePage(x, pages, fault, target) : ExportDocument(x, pages, fault, target);
}

int ExportEvery(const Invocation& call, const OpenedStore& store, ExportFormat format)
{
    const std::string& directory = call.operands[1];
    if (!platform::MakeDirectory(directory)) {
        std::fprintf(call.err, "pagorex-store: cannot create the directory %s\n", directory.c_str());
        return kToolCannotRead;
    }
    DocumentFinder finder(true, {});
    if (!FindDocuments(call, store, finder))
        return kToolCannotRead;
    Exporter x{call, store, format, PdfOptionsOf(call), {}};
    uint32_t documents = 0, written = 0, failed = 0;
    size_t at = 0;
    for (std::span<const PageRef> pages; !(pages = finder.NextDocument(at)).empty(); ++documents) {
        std::string name = std::to_string(pages[0].number) + "." + FormatName(format);
        int code = ExportDocument(x, pages, finder.FaultOf(pages[0].document), platform::Join(directory, name));
        if (code == kToolCannotRead)
            return code;
        written += code == kToolOk;
        failed += code == kToolProblems;
    }
    std::fprintf(call.out, "%u of %u live records exported to %s\n", written, documents, directory.c_str());
    return failed > 0 ? kToolProblems : kToolOk;
}

// The pages of one PDF, a document at a time; documents that cannot be exported are named
// and keep the file from being written.
class IntoPdf {
public:
    IntoPdf(Exporter& x, OutputSink& out) : x_(x), pdf_(out, x.pdf) {}
    void Add(std::span<const PageRef> pages, const DocumentFault* fault)
    {
        ++records;
        if (fault) {
            Refused(pages[0].number, fault->why, x_.call.err);
            ++failed;
            return;
        }
        for (const PageRef& page : pages) {
            SurveyedRecord s;
            if (fatal || changed || (changed = !x_.Read(page, s)))
                return;
            if (LoadPicture(x_.store, s, x_.picture, x_.call.err) != kToolOk) {
                ++failed;
                return;
            }
            // Once the file cannot be whole, the rest are only checked.
            if (failed > 0)
                continue;
            fatal = !AddPdfPage(pdf_, s, x_.picture);
            if (!fatal)
                std::fprintf(x_.call.out, "%s: page %zu\n", PageName(s).c_str(), pdf_.Pages());
        }
    }
    PdfWriter& pdf() { return pdf_; }
    uint32_t records = 0, failed = 0;
    bool fatal = false;    // the PDF could not be written
    bool changed = false;  // a page's record changed meanwhile (said)

private:
    Exporter& x_;
    PdfWriter pdf_;
};

// Walks the documents asked for into pdf; false when the index cannot be read (said).
bool CollectPages(const Invocation& call, const OpenedStore& store, const std::vector<int32_t>& numbers,
                  IntoPdf& pdf)
{
    DocumentFinder finder(call.all, numbers);
    if (!FindDocuments(call, store, finder))
        return false;
    size_t at = 0;
    for (std::span<const PageRef> pages; call.all && !(pages = finder.NextDocument(at)).empty();)
        pdf.Add(pages, finder.FaultOf(pages[0].document));
    for (int32_t number : call.all ? std::vector<int32_t>() : numbers) {
        std::span<const PageRef> pages = LiveDocument(call, store, finder, number);
        if (pages.empty())
            ++pdf.failed;
        else
            pdf.Add(pages, finder.FaultOf(pages[0].document));
    }
    return !pdf.changed;
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
    Exporter x{call, store, ExportFormat::Pdf, PdfOptionsOf(call), {}};
    IntoPdf pdf(x, output);
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
    std::fprintf(call.out, "%u records (%zu pages) exported to %s\n", pdf.records, pdf.pdf().Pages(),
                 call.into.c_str());
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
    if (call.plainPdf && format != ExportFormat::Pdf)
        return Usage(call, "--plain-pdf goes with a PDF: --format pdf or --into FILE.pdf");
    if (call.page != 0 && (into || call.all))
        return Usage(call, "--page K goes with one RECORD and FILE");
    OpenedStore store;
    if (!OpenStore(call, call.operands[0], store))
        return kToolCannotRead;
    return into ? ExportInto(call, store) : call.all ? ExportEvery(call, store, format) : ExportOne(call, store, format);
}
