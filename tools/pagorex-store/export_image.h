#pragma once
// One record's image out of the store: checked as verify checks it, then written as the
// bitmap file it is stored as, or converted into a PNG file or a PDF page.

#include "dib/dib_export.h"
#include "pdf_writer.h"
#include "tool_command.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class ExportFormat { Bmp, Png, Pdf };
// The format's name on the command line and in file names, and the format of a name.
const char* FormatName(ExportFormat format);
bool ParseFormat(const std::string& name, ExportFormat& format);

// A record's picture, read and checked, ready for a writer. Kept from record to record, so
// an export of many holds no more than its largest image.
struct Picture {
    std::vector<uint8_t> file;      // the image file as stored
    std::vector<uint8_t> expanded;  // a run-length compressed DIB's picture, uncompressed
    DibExportPlan plan;             // over the bytes of one of them
};

// Whether the record is a page of a document of several pages (page 1 included).
bool OfSeveralPages(const SurveyedRecord& s);
// "record 7", or "record 7, page 2" for a page of a document of several pages.
std::string PageName(const SurveyedRecord& s);
// The picture as the PDF's next page: labelled "7", or "7-2" for page 2 of a document of
// several pages, and bookmarked "Record 7" or "Record 7, page 2 of 3".
bool AddPdfPage(PdfWriter& pdf, const SurveyedRecord& s, const Picture& picture);
// Checks the record's blob as verify does; kToolOk, or kToolProblems with the reason said.
int CheckRecord(const OpenedStore& store, const SurveyedRecord& s, FILE* err);

// Reads the record's image into picture; kToolOk, or the exit code with the reason said
// on err.
int LoadPicture(const OpenedStore& store, const SurveyedRecord& s, Picture& picture, FILE* err);

// How the export's PDF files are written: archival unless --plain-pdf, dated at the time
// of the export or at SOURCE_DATE_EPOCH where it is set (seconds since 1970, UTC), so that
// the same export of the same store then gives the same bytes.
PdfOptions PdfOptionsOf(const Invocation& call);

// Writes the record's image to target in format (a PDF as pdf says); an existing target is
// replaced only when force is set. kToolOk, or the exit code with the reason said on err.
int ExportRecord(const OpenedStore& store, const SurveyedRecord& s, const std::string& target, ExportFormat format,
                 const PdfOptions& pdf, bool force, Picture& picture, FILE* err);

// An output file for the writers, under its temporary name until Commit.
class OutputSink final : public ByteSink {
public:
    OutputSink(const std::string& target, bool replace) : file_(target, replace) {}
    bool Open(std::string& error) { return file_.Open(error); }
    bool Write(const uint8_t* bytes, size_t count) override
    {
        failed_ = failed_ || !file_.Write(bytes, count);
        return !failed_;
    }
    bool Commit(std::string& error) { return !failed_ && file_.Commit(error); }
    bool failed() const { return failed_; }

private:
    platform::OutputFile file_;
    bool failed_ = false;
};

// Says that target cannot be written, and why; answers kToolCannotRead.
int CannotWrite(const std::string& target, const std::string& why, FILE* err);
