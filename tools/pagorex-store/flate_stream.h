#pragma once
// The pixels of an image as one zlib stream (RFC 1950), the compressed form both PNG and
// PDF take, deflated on every core: the rows (for a PNG filtered as PNG filters them) cut
// into blocks that the store's compressor threads deflate each primed with the 32 KB
// before it (store/core/parallel_gzip.h), written in their order with the Adler-32 of the
// whole at the end. No windows.h: the native build runs it under the sanitizers.

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

// Why the last stream of the calling thread could not compress its bytes; empty when it
// could (a stream that failed then failed to write).
const char* FlateFailure();

// Which samples of each pixel go into the stream: all, or (for a PDF, which takes the
// alpha as an image of its own) the colour alone or the alpha alone.
enum class RowPart { All, Colour, Alpha };

// Deflates the picture's rows. filtered: each filtered as PNG filters it, what a PNG's IDAT
// chunks hold: rows of palette indices and of fewer than 8 bits a sample as they are
// (filter 0), deeper ones with the filter that leaves the smallest sum of differences.
// Else the rows as they are, what a PDF image holds: a scanned page's noise leaves the
// filters little to win, and choosing them costs a PDF export more than a tenth of its time.
bool DeflateRows(const DibExportPlan& plan, RowPart part, bool filtered, ByteSink& out);
