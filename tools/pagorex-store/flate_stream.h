#pragma once
// The pixels of an image as one zlib stream (RFC 1950), the compressed form both PNG and
// PDF take, deflated on every core: the rows are filtered as PNG filters them (a filter
// byte before each row, which a PDF reader undoes as its PNG predictor), cut into blocks
// that the store's compressor threads deflate each primed with the 32 KB before it
// (store/core/parallel_gzip.h), and written in their order with the Adler-32 of the whole
// at the end. No windows.h: the native build runs it under the sanitizers.

#include "dib/dib_export.h"
#include "store/core/parallel_gzip.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Where a writer puts its bytes; false stops it (the output could not be written).
class ByteSink {
public:
    virtual bool Write(const uint8_t* bytes, size_t count) = 0;

protected:
    ~ByteSink() = default;
};

class FlateStream {
public:
    // total: the bytes that will be added, so that no block is made larger than needed.
    FlateStream(ByteSink& out, pgz::Effort effort, uint64_t total);
    FlateStream(const FlateStream&) = delete;
    FlateStream& operator=(const FlateStream&) = delete;
    bool Add(const uint8_t* bytes, size_t count);
    // The last block and the trailer; false when compressing or writing failed.
    bool Finish();
    uint64_t Written() const { return written_; }

private:
    void Open();
    bool Submit(bool last);
    bool Put(const uint8_t* bytes, size_t count);
    bool Take(size_t leave);

    ByteSink& out_;
    pgz::Effort effort_;
    pgz::Compressor compressor_;
    std::unique_ptr<pgz::Block> block_;
    std::vector<std::unique_ptr<pgz::Block>> spare_;
    std::vector<uint8_t> window_;
    size_t filled_ = 0;  // bytes of block_ after its dictionary
    uint64_t left_;      // bytes still to come after block_
    uint32_t adler_ = 1;
    uint64_t written_ = 0;
    bool ok_ = true;
};

// Which samples of each pixel go into the stream: all, or (for a PDF, which takes the
// alpha as an image of its own) the colour alone or the alpha alone.
enum class RowPart { All, Colour, Alpha };

// Deflates the picture's rows, each filtered as PNG filters it: rows of palette indices
// and of fewer than 8 bits a sample as they are (filter 0), deeper ones with the filter
// that leaves the smallest sum of differences. The stream takes what a PNG's IDAT chunks
// hold, and a PDF's image with /Predictor 15.
bool DeflateRows(const DibExportPlan& plan, const uint8_t* dib, RowPart part, ByteSink& out);
