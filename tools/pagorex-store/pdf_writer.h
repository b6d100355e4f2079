#pragma once
// Images as the pages of one PDF file, written as they come: each page is its image at
// the image's resolution (300 dpi where the bitmap gives none), the pixels as they are in
// one image (grey and black-and-white as DeviceGray, palettes as indexed colour),
// black-and-white pages coded losslessly as JBIG2, the others Flate-compressed. What a file
// of thousands of pages keeps in memory is an offset per object and a label per page, and
// while it codes a black-and-white page that page's rows. Written by hand over zlib: the
// tool must build for Windows, and Debian packages no PDF library for the cross
// compilers. No windows.h.
//
// By default the file is one that archives accept (PDF/A-2b): it names sRGB as the colour
// its pages mean (an embedded profile), carries its producer and dates twice, in the
// document information and in XMP metadata, has an identifier, and shows no page through
// transparency: an alpha field is left out, the page drawn in its colour as the program
// shows it. The plain form keeps an alpha field as a soft mask and has none of those parts.

#include "flate_stream.h"

#include <string>
#include <vector>

struct PdfOptions {
    bool archival = true;
    int64_t seconds = 0;   // the time of the export, since 1970-01-01 00:00:00 UTC
    std::string producer;  // the program and its version, plain ASCII
};

class PdfWriter {
public:
    PdfWriter(ByteSink& out, PdfOptions options);
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    // Adds a page showing the DIB that plan was made for, with its page label and its
    // bookmark's title. false when writing failed.
    bool AddPage(const DibExportPlan& plan, const std::string& label, const std::string& title);
    // The page tree, bookmarks, labels and cross-reference table; false when writing failed.
    bool Finish();
    size_t Pages() const { return pages_.size(); }

private:
    class Counted;
    bool Put(const uint8_t* bytes, size_t count);
    bool Text(const std::string& text);
    uint32_t NewObject();
    bool BeginObject(uint32_t id);
    bool Image(const DibExportPlan& plan, RowPart part, uint32_t id, uint32_t mask);
    bool Outlines(uint32_t rootId);
    bool ArchivalParts(std::string& catalog);
    std::string Identifier() const;

    ByteSink& out_;
    const PdfOptions options_;
    uint64_t offset_ = 0;
    uint32_t crc_ = 0, adler_ = 1;  // of the bytes written, for the identifier
    uint32_t info_ = 0;             // the document information's object
    bool ok_ = true;
    std::vector<uint64_t> offsets_;  // of object i + 1
    struct Page {
        uint32_t id;
        std::string label, title;
    };
    std::vector<Page> pages_;
    bool userUnits_ = false;  // a page too large for PDF's units is drawn in larger ones
};
