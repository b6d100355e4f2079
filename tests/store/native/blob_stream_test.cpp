// A load reads a record's image straight out of its blob. Whatever the blob holds, the
// stream gives the bytes zlib's gzread gives for the same blob in a file of its own,
// bounded by the image length, however the blob arrives and however the image is asked
// for; a blob that breaks off gives what came before the break and then says so.
#include "store/core/blob_stream.h"
#include "support/store_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

namespace {
using storefiles::Bytes;

Bytes Noisy(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = (i / 4096) % 3 ? uint8_t(200 + (seed >> 29)) : uint8_t(seed >> 24);
    }
    return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What the load through work files produced: the blob in a file, gzread bounded by the
// image length.
Bytes ThroughGzread(const Bytes& blob, uint32_t imageLength)
{
    std::string path = testing::TempDir() + "blob_stream_oracle.gz";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(blob.data(), 1, blob.size(), file);
    std::fclose(file);
    gzFile gz = gzopen(path.c_str(), "rb");
    Bytes out(imageLength);
    int read = gzread(gz, out.data(), imageLength);
    gzclose(gz);
    std::remove(path.c_str());
    out.resize(read < 0 ? 0 : size_t(read));
    return out;
}

struct Outcome {
    Bytes image;
    bool failed = false;
};

// Reads the stream to its end in reads of readSize, the blob arriving in pieces of at
// most pieceSize and failing once failAt bytes of it were delivered.
Outcome ReadAll(const Bytes& blob, bool compressed, uint32_t imageLength, size_t readSize, size_t pieceSize,
                size_t failAt = SIZE_MAX)
{
    size_t at = 0;
    BlobStream stream(
        [&](void* buffer, size_t count) -> int64_t {
            if (at >= failAt)
                return -1;
            size_t n = std::min({count, pieceSize, blob.size() - at, failAt - at});
            std::copy_n(blob.begin() + at, n, static_cast<uint8_t*>(buffer));
            at += n;
            return int64_t(n);
        },
        compressed, imageLength);
    Outcome outcome;
    Bytes buffer(readSize);
    for (;;) {
        int64_t got = stream.Read(buffer.data(), readSize);
        if (got < 0) {
            outcome.failed = true;
            EXPECT_EQ(stream.Read(buffer.data(), readSize), -1) << "a failure stays";
            return outcome;
        }
        if (got == 0)
            return outcome;
        EXPECT_LE(size_t(got), readSize);
        outcome.image.insert(outcome.image.end(), buffer.begin(), buffer.begin() + got);
    }
}

struct Case {
    const char* what;
    Bytes blob;
    uint32_t imageLength;
};

TEST(BlobStream, ExpandsEveryWellFormedBlobAsGzreadDoes)
{
    const Bytes small = Noisy(3000, 1), large = Noisy(700 * 1024, 2);  // over two input buffers
    const Bytes member = storefiles::Gzip(small), big = storefiles::Gzip(large);
    const uint32_t smallSize = uint32_t(small.size()), largeSize = uint32_t(large.size());
    const Case cases[] = {
        {"one member", member, smallSize},
        {"one member of several input buffers", big, largeSize},
        {"an image length short of the member", big, largeSize - 100001},
        {"an image length past the member", member, smallSize + 500},
        {"members back to back", Concat({member, big, member}), 2 * smallSize + largeSize},
        {"bytes after the member that are no member", Concat({member, Noisy(5000, 3)}), smallSize + 5000},
        {"a member of nothing", storefiles::Gzip({}), 10},
        {"bytes that are no gzip at all", large, largeSize - 7},
        {"one byte like the start of a member", Bytes{0x1F}, 4},
        {"an empty blob", {}, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes expected = ThroughGzread(c.blob, c.imageLength);
        for (size_t readSize : {size_t{1}, size_t{777}, size_t{1} << 20}) {
            for (size_t pieceSize : {size_t{1}, size_t{4099}, SIZE_MAX}) {
                if (c.blob.size() > 100000 && (readSize == 1 || pieceSize == 1))
                    continue;  // byte by byte is covered by the small blobs
                SCOPED_TRACE("reads of " + std::to_string(readSize) + ", pieces of " + std::to_string(pieceSize));
                Outcome outcome = ReadAll(c.blob, true, c.imageLength, readSize, pieceSize);
                EXPECT_FALSE(outcome.failed);
                EXPECT_TRUE(outcome.image == expected) << outcome.image.size() << " bytes, not " << expected.size();
            }
        }
    }
}

// The image length bounds the read, so a blob is judged up to the end of its image; what
// comes after (the member's check values) is not waited for.
TEST(BlobStream, ABlobThatBreaksOffGivesWhatCameBeforeAndThenFails)
{
    const Bytes image = Noisy(400 * 1024, 4);
    const Bytes member = storefiles::Gzip(image);
    Bytes damaged = member;
    for (size_t i = member.size() / 2; i < member.size() / 2 + 64; ++i)
        damaged[i] ^= 0x5A;
    const struct {
        const char* what;
        Bytes blob;
        size_t failAt;
        bool intact;  // what came before the break is the image's beginning
    } cases[] = {
        {"cut short", Bytes(member.begin(), member.begin() + member.size() / 3), SIZE_MAX, true},
        {"damaged in the middle", damaged, SIZE_MAX, false},
        {"the data file fails to read", member, member.size() / 2, true},
        {"the data file fails at once", member, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome outcome = ReadAll(c.blob, true, uint32_t(image.size()), 65536, SIZE_MAX, c.failAt);
        EXPECT_TRUE(outcome.failed);
        ASSERT_LT(outcome.image.size(), image.size());
        if (c.intact) {
            EXPECT_TRUE(std::equal(outcome.image.begin(), outcome.image.end(), image.begin()));
        }
    }
}

TEST(BlobStream, APlainBlobIsTheImageFileAsStored)
{
    const Bytes image = Noisy(5000, 5);
    for (size_t pieceSize : {size_t{1}, SIZE_MAX}) {
        // The image length of a plain record means nothing.
        Outcome whole = ReadAll(image, false, 0, 1000, pieceSize);
        EXPECT_FALSE(whole.failed);
        EXPECT_EQ(whole.image, image);
        Outcome broken = ReadAll(image, false, 0, 1000, pieceSize, 2500);
        EXPECT_TRUE(broken.failed);
        EXPECT_TRUE(std::equal(broken.image.begin(), broken.image.end(), image.begin()));
    }
}
}  // namespace
