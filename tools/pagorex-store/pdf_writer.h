#pragma once
// Images as the pages of one PDF file, written as they come: each page is its image at
// the image's resolution (300 dpi where the bitmap gives none), the pixels as they are in
// one Flate-compressed image (grey and black-and-white as DeviceGray, palettes as indexed
// colour, an alpha field as a soft mask). What a file of thousands of pages keeps in
// memory is an offset per object and a label per page. Written by hand over zlib: the
// tool must build for Windows, and Debian packages no PDF library for the cross
// compilers. No windows.h.

#include "flate_stream.h"

#include <string>
#include <vector>

class PdfWriter {
public:
    explicit PdfWriter(ByteSink& out);
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
    bool Text(const std::string& text);
    uint32_t NewObject();
    bool BeginObject(uint32_t id);
    bool Image(const DibExportPlan& plan, RowPart part, uint32_t id, uint32_t mask);
    bool Outlines(uint32_t rootId);

    ByteSink& out_;
    uint64_t offset_ = 0;
    bool ok_ = true;
    std::vector<uint64_t> offsets_;  // of object i + 1
    struct Page {
        uint32_t id;
        std::string label, title;
    };
    std::vector<Page> pages_;
    bool userUnits_ = false;  // a page too large for PDF's units is drawn in larger ones
};
