#pragma once
// The image file a stored blob holds, read from its start, as a load reads it: a plain
// blob is the image file itself; a compressed one is expanded the way zlib's gzread
// expands a file (gzip members back to back, anything after them that is not a member
// left alone, bytes that are not gzip at all passed through unchanged), up to the
// record's image length. The image goes straight from the data file to whoever shows it,
// through no work file.
// No windows.h: the same code runs natively under the sanitizers and the fuzzer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// An image file being read from its start.
class ImageFileSource {
public:
    // Up to count bytes: fewer only where the image ends (0 there), or -1 once it cannot
    // be read any further.
    virtual int64_t Read(void* buffer, size_t count) = 0;

protected:
    ~ImageFileSource() = default;
};

class BlobStream final : public ImageFileSource {
public:
    // The blob's bytes in order: the count delivered (0 at the blob's end), or -1 when
    // they cannot be read.
    using Source = std::function<int64_t(void* buffer, size_t count)>;

    BlobStream(Source source, bool compressed, uint32_t imageLength);
    ~BlobStream();
    BlobStream(const BlobStream&) = delete;
    BlobStream& operator=(const BlobStream&) = delete;

    int64_t Read(void* buffer, size_t count) override;

private:
    enum class Mode { Start, Plain, Direct, Inflate, End, Failed };
    int64_t ReadDirect(uint8_t* out, size_t count);
    int64_t Inflate(uint8_t* out, size_t count);
    // Tops the input up to at least `want` bytes unless the blob ends first; false when
    // the blob could not be read.
    bool Fill(size_t want);
    // Another gzip member starts where the last one ended.
    bool MemberFollows();

    struct Inflater;
    Source source_;
    Mode mode_;
    uint64_t left_;  // of the image length, for a compressed blob
    std::vector<uint8_t> input_;
    size_t inStart_ = 0, inEnd_ = 0;
    bool sourceEnded_ = false;
    std::unique_ptr<Inflater> inflater_;
};
