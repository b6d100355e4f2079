// The strict blob check: every way a blob can fail the program's load, fed in pieces of
// every size, and the read window it reads through.
#include "store/core/blob_check.h"
#include "support/store_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

namespace {
using storefiles::Bytes;

uint32_t Gray(int x, int y)
{
    uint32_t v = static_cast<uint32_t>((x * 7 + y * 13) & 0xFF);
    return v | v << 8 | v << 16;
}

const Bytes kImage = storefiles::Bitmap24(70, 50, Gray);  // over 10 KB: several inflate rounds

void Put32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes With(Bytes bytes, const std::function<void(Bytes&)>& change)
{
    change(bytes);
    return bytes;
}

struct Blob {
    Bytes stored;
    IndexRecord record{};
};

Blob Compressed(const Bytes& image, int64_t imageLengthChange = 0)
{
    Blob blob{storefiles::Gzip(image), {}};
    blob.record.compressed = 1;
    blob.record.storedLength = static_cast<uint32_t>(blob.stored.size());
    blob.record.imageLength = static_cast<uint32_t>(static_cast<int64_t>(image.size()) + imageLengthChange);
    return blob;
}

Blob Plain(const Bytes& image)
{
    Blob blob{image, {}};
    blob.record.storedLength = static_cast<uint32_t>(image.size());
    return blob;
}

// The stored bytes changed after the record was written for them.
Blob Stored(Blob blob, const std::function<void(Bytes&)>& change)
{
    change(blob.stored);
    return blob;
}

struct BlobCase {
    const char* what;
    std::function<Blob()> make;
    BlobProblem problem;
};

const BlobCase kBlobCases[] = {
    {"sound gzip member", [] { return Compressed(kImage); }, BlobProblem::None},
    {"sound plain image", [] { return Plain(kImage); }, BlobProblem::None},
    {"plain bytes marked compressed",
     [] {
         Blob blob = Plain(kImage);
         blob.record.compressed = 1;
         blob.record.imageLength = blob.record.storedLength;
         return blob;
     },
     BlobProblem::NotGzip},
    {"other non-zero compressed values read as gzip",
     [] {
         Blob blob = Compressed(kImage);
         blob.record.compressed = 7;
         return blob;
     },
     BlobProblem::None},
    {"second member behind the first",
     [] {
         Blob blob = Compressed(kImage);
         Bytes second = storefiles::Gzip(kImage);
         blob.stored.insert(blob.stored.end(), second.begin(), second.end());
         blob.record.storedLength = static_cast<uint32_t>(blob.stored.size());
         return blob;
     },
     BlobProblem::ExtraBytes},
    {"one garbage byte behind the member",
     [] {
         Blob blob = Compressed(kImage);
         blob.stored.push_back(0);
         ++blob.record.storedLength;
         return blob;
     },
     BlobProblem::ExtraBytes},
    {"member cut short", [] { return Stored(Compressed(kImage), [](Bytes& b) { b.resize(b.size() - 9); }); },
     BlobProblem::CutGzip},
    {"member cut inside its header", [] { return Stored(Compressed(kImage), [](Bytes& b) { b.resize(5); }); },
     BlobProblem::CutGzip},
    {"a single byte of magic", [] { return Stored(Compressed(kImage), [](Bytes& b) { b.resize(1); }); },
     BlobProblem::NotGzip},
    {"CRC in the trailer wrong", [] { return Stored(Compressed(kImage), [](Bytes& b) { b[b.size() - 6] ^= 1; }); },
     BlobProblem::DamagedGzip},
    {"length in the trailer wrong", [] { return Stored(Compressed(kImage), [](Bytes& b) { b[b.size() - 3] ^= 1; }); },
     BlobProblem::DamagedGzip},
    {"compressed data damaged",
     [] { return Stored(Compressed(kImage), [](Bytes& b) { std::fill(b.begin() + 30, b.begin() + 60, 0xFF); }); },
     BlobProblem::DamagedGzip},
    {"unknown compression method", [] { return Stored(Compressed(kImage), [](Bytes& b) { b[2] = 9; }); },
     BlobProblem::DamagedGzip},
    {"image length one short", [] { return Compressed(kImage, -1); }, BlobProblem::WrongImageLength},
    {"image length one long", [] { return Compressed(kImage, +1); }, BlobProblem::WrongImageLength},
    {"image length zero", [] { return Compressed(kImage, -static_cast<int64_t>(kImage.size())); },
     BlobProblem::WrongImageLength},
    {"not a bitmap file", [] { return Compressed(With(kImage, [](Bytes& b) { b[0] = 'P'; })); },
     BlobProblem::NotBitmap},
    {"shorter than a file header", [] { return Compressed(Bytes(kImage.begin(), kImage.begin() + 10)); },
     BlobProblem::NotBitmap},
    {"file header announces no DIB", [] { return Compressed(With(kImage, [](Bytes& b) { Put32(b, 2, 20); })); },
     BlobProblem::NotBitmap},
    {"file header announces more than any DIB",
     [] { return Compressed(With(kImage, [](Bytes& b) { Put32(b, 2, 0x80000000u); })); }, BlobProblem::UnsafeBitmap},
    {"bitmap longer in its header than in the file",
     [] { return Compressed(With(kImage, [](Bytes& b) { Put32(b, 2, static_cast<uint32_t>(b.size() + 1)); })); },
     BlobProblem::ShortBitmap},
    {"rows lie past the end of the bitmap",
     [] { return Compressed(With(kImage, [](Bytes& b) { Put32(b, 14 + 8, 500); })); }, BlobProblem::UnsafeBitmap},
    {"width of a lie", [] { return Compressed(With(kImage, [](Bytes& b) { Put32(b, 14 + 4, 0x7FFFFFFF); })); },
     BlobProblem::UnsafeBitmap},
    {"unknown depth", [] { return Compressed(With(kImage, [](Bytes& b) { b[14 + 14] = 3; })); },
     BlobProblem::UnsafeBitmap},
    {"plain image cut short", [] { return Plain(Bytes(kImage.begin(), kImage.begin() + kImage.size() / 2)); },
     BlobProblem::ShortBitmap},
    {"damage beats a wrong length and a lying bitmap",
     [] {
         Bytes lying = With(kImage, [](Bytes& b) { Put32(b, 14 + 4, 0x7FFFFFFF); });
         return Stored(Compressed(lying, 5), [](Bytes& b) { b[b.size() - 6] ^= 1; });
     },
     BlobProblem::DamagedGzip},
    {"a wrong length beats a lying bitmap",
     [] { return Compressed(With(kImage, [](Bytes& b) { Put32(b, 14 + 4, 0x7FFFFFFF); }), 5); },
     BlobProblem::WrongImageLength},
};

// Feeds the stored bytes (as many as the record says) in pieces of size piece.
BlobVerdict Feed(BlobChecker& checker, const Blob& blob, size_t piece, Bytes* image = nullptr)
{
    struct Collect final : ImageSink {
        Bytes* into;
        bool Write(const uint8_t* bytes, size_t count) override
        {
            into->insert(into->end(), bytes, bytes + count);
            return true;
        }
    } collect;
    collect.into = image;
    checker.Start(blob.record, false, image ? &collect : nullptr);
    size_t length = std::min<size_t>(blob.record.storedLength, blob.stored.size()), at = 0;
    while (at < length) {
        size_t n = std::min(piece, length - at);
        bool more = checker.Feed(blob.stored.data() + at, n);
        at += n;
        if (!more)
            break;
    }
    return checker.Finish(at == length);
}

TEST(BlobCheck, EveryKindOfDamageIsToldWhateverPiecesTheBlobArrivesIn)
{
    BlobChecker checker;  // one checker for every blob, as a survey uses it
    for (const BlobCase& c : kBlobCases) {
        Blob blob = c.make();
        for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, blob.stored.size() + 1}) {
            SCOPED_TRACE(testing::Message() << c.what << ", pieces of " << piece);
            Bytes image;
            BlobVerdict verdict = Feed(checker, blob, piece, &image);
            EXPECT_EQ(BlobProblemCode(verdict.problem), std::string(BlobProblemCode(c.problem)));
            if (verdict.ok()) {
                EXPECT_EQ(verdict.imageBytes, image.size());
                EXPECT_TRUE(verdict.bitmap.known);
                EXPECT_EQ(verdict.bitmap.width, 70);
                EXPECT_EQ(verdict.bitmap.height, 50);
                EXPECT_EQ(verdict.bitmap.bitCount, 24);
                if (blob.record.storedLength == blob.stored.size())
                    EXPECT_EQ(image, kImage) << "the image file passes through unchanged";
            }
        }
    }
}

// Counts what is asked of a file held in memory.
class CountingReader final : public FileReader {
public:
    explicit CountingReader(const Bytes& bytes, int failAt = 0) : memory_(bytes), failAt_(failAt) {}
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override
    {
        ++reads;
        if (failAt_ != 0 && reads >= failAt_)
            return -1;
        int64_t got = memory_.ReadAt(offset, buffer, count);
        bytesRead += static_cast<uint64_t>(std::max<int64_t>(got, 0));
        return got;
    }
    uint64_t Size() override { return memory_.Size(); }
    int reads = 0;
    uint64_t bytesRead = 0;

private:
    MemoryReader memory_;
    int failAt_;
};

struct PlaceCase {
    const char* what;
    uint32_t offset;
    int64_t lengthChange;  // of the stored length against the blob
    int failAt;            // read that fails (0: none)
    BlobProblem problem;
};

TEST(BlobCheck, ABlobIsReadFromItsPlaceAndOnlyFromThere)
{
    Blob blob = Compressed(kImage);
    Bytes file(300, 0x55);
    file.insert(file.end(), blob.stored.begin(), blob.stored.end());
    uint32_t size = static_cast<uint32_t>(file.size());
    const PlaceCase cases[] = {
        {"in place", 300, 0, 0, BlobProblem::None},
        {"starting at the end of the file", size, 0, 0, BlobProblem::PastEnd},
        {"starting far past it", 0xFFFFFF00u, 0, 0, BlobProblem::PastEnd},
        {"running past the end", 300, 1, 0, BlobProblem::RunsPastEnd},
        {"no bytes", 300, -static_cast<int64_t>(blob.stored.size()), 0, BlobProblem::Empty},
        {"a read fails", 300, 0, 1, BlobProblem::Unreadable},
        {"starting one byte early", 299, 0, 0, BlobProblem::NotGzip},
    };
    BlobChecker checker;
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(c.what);
        CountingReader reader(file, c.failAt);
        ReadWindow window(reader);
        IndexRecord record = blob.record;
        record.dataOffset = c.offset;
        record.storedLength = static_cast<uint32_t>(static_cast<int64_t>(record.storedLength) + c.lengthChange);
        EXPECT_EQ(CheckBlob(window, record, checker).problem, c.problem);
    }
}

TEST(BlobCheck, AHeaderLookReadsTheBlobsStartNotTheWholeBlob)
{
    // 4 MB of image: its gzip member is larger than the window's smallest refill.
    Bytes big = storefiles::Bitmap24(1400, 1000, [](int x, int y) { return uint32_t(x * 2654435761u ^ y * 40503u); });
    Blob blob = Compressed(big);
    ASSERT_GT(blob.stored.size(), 256u * 1024);
    CountingReader reader(blob.stored);
    ReadWindow window(reader);
    BlobChecker checker;
    BlobVerdict verdict = CheckBlob(window, blob.record, checker, true);
    EXPECT_TRUE(verdict.ok());
    EXPECT_TRUE(verdict.bitmap.known);
    EXPECT_EQ(verdict.bitmap.width, 1400);
    EXPECT_LE(reader.bytesRead, 64u * 1024);
    // The whole check reads every byte once, in large reads.
    CountingReader all(blob.stored);
    ReadWindow allWindow(all);
    EXPECT_TRUE(CheckBlob(allWindow, blob.record, checker).ok());
    EXPECT_EQ(all.bytesRead, blob.stored.size());
    EXPECT_LE(all.reads, static_cast<int>(blob.stored.size() / (1 << 20)) + 2);
}

TEST(BlobCheck, AMemberThatExpandsManyTimesOverIsReadToItsEnd)
{
    // 1.5 MB of one colour in a few KB of gzip: one piece of input fills the inflate
    // buffer over and over.
    Bytes flat = storefiles::Bitmap24(1000, 500, [](int, int) { return 0x00204080u; });
    Blob blob = Compressed(flat);
    ASSERT_LT(blob.stored.size(), 16u * 1024);
    BlobChecker checker;
    for (size_t piece : {size_t{64}, blob.stored.size()}) {
        Bytes image;
        BlobVerdict verdict = Feed(checker, blob, piece, &image);
        EXPECT_TRUE(verdict.ok()) << BlobProblemText(verdict.problem);
        EXPECT_EQ(verdict.imageBytes, flat.size());
        EXPECT_TRUE(image == flat);
    }
}

TEST(BlobCheck, ASinkThatFailsStopsTheCheck)
{
    struct Full final : ImageSink {
        size_t taken = 0;
        bool Write(const uint8_t*, size_t count) override
        {
            taken += count;
            return taken < 5000;
        }
    } full;
    Blob blob = Plain(kImage);
    BlobChecker checker;
    checker.Start(blob.record, false, &full);
    size_t fed = 0;
    while (fed < blob.stored.size() && checker.Feed(blob.stored.data() + fed, 1000))
        fed += 1000;
    EXPECT_EQ(fed, 4000u) << "the fifth piece filled the sink";
    EXPECT_EQ(full.taken, 5000u);
}

TEST(BlobCheck, EveryProblemHasItsOwnCodeAndText)
{
    std::set<std::string> codes, texts;
    for (int p = static_cast<int>(BlobProblem::None); p <= static_cast<int>(BlobProblem::ShortBitmap); ++p) {
        codes.insert(BlobProblemCode(static_cast<BlobProblem>(p)));
        texts.insert(BlobProblemText(static_cast<BlobProblem>(p)));
    }
    EXPECT_EQ(codes.size(), static_cast<size_t>(BlobProblem::ShortBitmap) + 1);
    EXPECT_EQ(texts.size(), codes.size());
}
}  // namespace
