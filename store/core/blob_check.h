#pragma once
// Checking a record's blob strictly: a compressed blob is exactly one gzip member that
// fills the stored length, decompresses (with a sound CRC and length trailer) to exactly
// the record's image length, and holds a bitmap file that the program's bitmap reader
// accepts (the "BM" file header, and a DIB that passes the safety check and lies wholly
// in the file). zlib's gzread cannot tell such a blob from a damaged one: it passes
// non-gzip bytes through and reads past a member into what follows, so the check drives
// inflate itself.
//
// The check streams: the blob is fed in pieces of any size, and the image file's bytes can
// be handed on as they come out (export), so no blob is ever held whole in memory.

#include "store/core/file_reader.h"
#include "store/core/index_record.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

enum class BlobProblem {
    None,
    Empty,             // no stored bytes at all
    MissingFile,       // the file the blob lies in is missing
    PastEnd,           // the blob starts at or past the end of its file
    RunsPastEnd,       // the blob starts inside its file and ends past its end
    Unreadable,        // reading its file failed
    NotGzip,           // a compressed blob without a gzip header
    DamagedGzip,       // the compressed data, or the member's CRC or length trailer, is wrong
    CutGzip,           // the member ends after the stored length
    ExtraBytes,        // bytes after the one member: a second member, or garbage
    WrongImageLength,  // decompresses to another length than the record's image length
    NotBitmap,         // the image file does not start with a bitmap file header
    UnsafeBitmap,      // the bitmap's header lies: sizes, depth or tables outside the file
    ShortBitmap,       // the image file ends before the size its header gives
    Unchecked,         // no memory could be had to check it: nothing is known of it
    CheckFailed,       // the check itself failed (an internal error): nothing is known of it
};

// A short English text and a fixed code for scripts ("not-gzip", ...).
const char* BlobProblemText(BlobProblem problem);
const char* BlobProblemCode(BlobProblem problem);

// What the bitmap file header and the DIB's header say, once they have been seen.
struct BitmapSummary {
    bool known = false;
    int32_t width = 0;
    int32_t height = 0;  // negative: stored top-down
    uint16_t bitCount = 0;
    uint32_t fileSize = 0;  // bfSize
};

struct BlobVerdict {
    BlobProblem problem = BlobProblem::None;
    uint64_t imageBytes = 0;  // bytes of the image file seen (decompressed, for a gzip member)
    BitmapSummary bitmap;
    const char* zlibMessage = nullptr;  // what inflate said about damaged data, if anything
    bool ok() const { return problem == BlobProblem::None; }
};

// Where an export puts the image file's bytes as the check lets them through; false
// stops the check (the output could not be written).
class ImageSink {
public:
    virtual bool Write(const uint8_t* bytes, size_t count) = 0;

protected:
    ~ImageSink() = default;
};

class BlobChecker {
public:
    BlobChecker();
    ~BlobChecker();
    BlobChecker(const BlobChecker&) = delete;
    BlobChecker& operator=(const BlobChecker&) = delete;

    // Starts on the blob of record. headerOnly: stops once the bitmap's header is known
    // (a listing); otherwise checks the whole blob.
    void Start(const IndexRecord& record, bool headerOnly = false, ImageSink* sink = nullptr);
    // Feeds the blob's next stored bytes; answers false once feeding more changes nothing.
    bool Feed(const uint8_t* bytes, size_t count);
    // The verdict; whole: every stored byte was fed.
    BlobVerdict Finish(bool whole);

private:
    void Image(const uint8_t* bytes, size_t count);
    void JudgeHeader();
    void Fail(BlobProblem problem);
    bool Done() const;

    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    IndexRecord record_{};
    bool compressed_ = false;
    bool headerOnly_ = false;
    ImageSink* sink_ = nullptr;
    uint64_t fed_ = 0;
    bool memberEnded_ = false;
    bool sinkFailed_ = false;
    BlobProblem streamProblem_ = BlobProblem::None;  // of the stored bytes (gzip)
    BlobProblem bitmapProblem_ = BlobProblem::None;  // of the image file
    BlobVerdict verdict_;
    uint8_t head_[14 + 40] = {};  // the file header and the DIB's info header
    size_t headBytes_ = 0;
    bool headerJudged_ = false;
    uint64_t dibBytes_ = 0;
};

// Reads a store file through one window of up to 1 MB, so that blobs lying one after
// another cost one large read per window instead of one read per blob.
class ReadWindow {
public:
    explicit ReadWindow(FileReader& file, size_t capacity = 1 << 20);
    // Points data at the bytes from offset on, as many as the window holds (at most max):
    // their count, 0 at the end of the file, or -1 when reading failed. wanted is how much
    // the caller will read from offset on, so a refill reads no more than it needs.
    int64_t View(uint64_t offset, size_t max, uint64_t wanted, const uint8_t** data);
    // The file's size, asked again only when refresh is set.
    uint64_t Size(bool refresh = false);

private:
    FileReader& file_;
    size_t capacity_;
    std::vector<uint8_t> window_;  // grows to what a refill needs, at most capacity_
    uint64_t start_ = 0;
    size_t held_ = 0;
    uint64_t size_ = 0;
    bool sized_ = false;
};

// Reads the blob of record from its file and checks it.
BlobVerdict CheckBlob(ReadWindow& file, const IndexRecord& record, BlobChecker& checker, bool headerOnly = false,
                      ImageSink* sink = nullptr);
