// The store's files: lookup, chunked copies, appending the work file, progress.
#include "store/record_buffer.h"
#include "store/store_copy.h"
#include "store_support.h"

#include "app/shell.h"

#include <optional>

namespace {
using StoreFiles = StoreDirectory;

struct LookupCase {
    const char* what;
    std::vector<IndexRecord> records;
    size_t fragment;  // trailing bytes after the records
    int32_t wanted;
    std::optional<int32_t> position;
    uint32_t expectedOffset;  // dataOffset of the record found
};

const LookupCase kLookups[] = {
    {"empty index", {}, 0, 1, std::nullopt, 0},
    {"only a fragment", {}, 255, 1, std::nullopt, 0},
    {"first record", {MakeRecord(1, 10, 1, 1, 1), MakeRecord(2, 20, 1, 1, 1)}, 0, 1, 0, 10},
    {"third record", {MakeRecord(5, 0, 1, 1, 1), MakeRecord(6, 0, 1, 1, 1), MakeRecord(7, 30, 1, 1, 1)}, 0, 7, 512,
     30},
    {"first of two duplicates",
     {MakeRecord(3, 0, 1, 1, 1), MakeRecord(4, 40, 1, 1, 1), MakeRecord(4, 50, 1, 1, 1)}, 0, 4, 256, 40},
    {"deleted record still found", {MakeRecord(9, 90, 1, 1, 1, 1)}, 0, 9, 0, 90},
    {"negative record number", {MakeRecord(-3, 33, 1, 1, 1)}, 0, -3, 0, 33},
    {"no match", {MakeRecord(1, 0, 1, 1, 1), MakeRecord(2, 0, 1, 1, 1)}, 0, 3, std::nullopt, 0},
};

TEST_F(StoreFiles, FindIndexRecordTakesTheFirstWholeMatchingRecord)
{
    for (const LookupCase& c : kLookups) {
        SCOPED_TRACE(c.what);
        Bytes index;
        for (const IndexRecord& record : c.records)
            index = Concat({index, RecordBytes(record)});
        index = Concat({index, Bytes(c.fragment, 0)});  // a zero fragment would be record 0
        Write("pagorex.idx", index);

        ScopedStoreFile file(Files().Open(kIndexFileName));
        ASSERT_TRUE(file);
        IndexLookup lookup = FindIndexRecord(file.get(), c.wanted);
        EXPECT_FALSE(lookup.unreadable());
        std::optional<int32_t> found;
        if (lookup.found())
            found = lookup.position;
        EXPECT_EQ(found, c.position);
        if (found) {
            EXPECT_EQ(int32_t{recordBuffer.recordNumber}, c.wanted);
            EXPECT_EQ(uint32_t{recordBuffer.dataOffset}, c.expectedOffset);
        }
    }
}

TEST_F(StoreFiles, AFragmentNeverMatchesEvenWhenItStartsLikeTheRecord)
{
    Bytes fragment = RecordBytes(MakeRecord(4, 7, 1, 1, 1));
    fragment.resize(200);
    Write("pagorex.idx", Concat({RecordBytes(MakeRecord(1, 0, 1, 1, 1)), fragment}));
    ScopedStoreFile file(Files().Open(kIndexFileName));
    IndexLookup lookup = FindIndexRecord(file.get(), 4);
    EXPECT_EQ(lookup.outcome, IndexLookup::Outcome::Missing);
}

TEST_F(StoreFiles, MissingFilesCannotBeOpenedButCanBeCreated)
{
    EXPECT_FALSE(Files().Open(kIndexFileName));
    StoreHandle created = Files().Create(kIndexFileName);
    EXPECT_TRUE(created);
    CloseStoreFile(created);
    EXPECT_TRUE(Exists("pagorex.idx"));
    EXPECT_EQ(Files().Size(kIndexFileName), 0u);
    EXPECT_TRUE(Files().Delete(kIndexFileName));
    EXPECT_TRUE(Files().Delete(kIndexFileName));  // already gone: no error
    EXPECT_FALSE(Exists("pagorex.idx"));
}

TEST_F(StoreFiles, RenameRefusesAnExistingTargetAndSizeComesFromTheDirectory)
{
    Write("pagorex.new", Pattern(3000, 1));
    Write("pagorex.dat", Pattern(10, 2));
    EXPECT_EQ(Files().Size(kNewDataFileName), 3000u);
    EXPECT_FALSE(Files().Rename(kNewDataFileName, kDataFileName));
    EXPECT_EQ(Read("pagorex.dat"), Pattern(10, 2));
    ASSERT_TRUE(Files().Delete(kDataFileName));
    EXPECT_TRUE(Files().Rename(kNewDataFileName, kDataFileName));
    EXPECT_EQ(Read("pagorex.dat"), Pattern(3000, 1));
    EXPECT_FALSE(Exists("pagorex.new"));
}

struct CopyCase {
    const char* what;
    size_t sourceSize;
    uint32_t start;
    uint32_t length;
    uint32_t copied;
};

// Lengths around the block size, and sources that end before the length is reached.
constexpr uint32_t K = kChunkSize;
const CopyCase kCopies[] = {
    {"nothing", 100, 0, 0, 0},
    {"one byte", 100, 0, 1, 1},
    {"one block", 2 * K + 10, 0, K, K},
    {"block and a byte", 2 * K + 10, 0, K + 1, K + 1},
    {"from an offset", 3 * K, 1000, 2 * K, 2 * K},
    {"source ends short", K + 500, 0, 3 * K, K + 500},
    {"source ends short from an offset", 3000, 2500, 1024, 500},
    {"offset beyond the end", 100, 200, 50, 0},
};

TEST_F(StoreFiles, FileToFileCopyStopsAtTheLengthOrTheFirstShortRead)
{
    for (const CopyCase& c : kCopies) {
        SCOPED_TRACE(c.what);
        Bytes source = Pattern(c.sourceSize, 3);
        Write("pagorex.dat", source);
        ScopedStoreFile from(Files().Open(kDataFileName));
        ScopedStoreFile to(Files().Create(kWorkFileName));
        ASSERT_TRUE(from && to);
        SeekStoreFile(from.get(), static_cast<int32_t>(c.start), FILE_BEGIN);
        CopyOutcome outcome = CopyChunks(from.get(), to.get(), c.length);
        to.Close();
        EXPECT_FALSE(outcome.sinkFailed);
        EXPECT_EQ(outcome.copied, c.copied);
        Bytes expected(source.begin() + std::min<size_t>(c.start, source.size()),
                       source.begin() + std::min<size_t>(c.start + c.copied, source.size()));
        EXPECT_EQ(Read("pagorex.tmp"), expected);
    }
}

TEST_F(StoreFiles, ProgressIsCalledAfterEveryChunkWithWhatRemains)
{
    static std::vector<std::pair<uint32_t, uint32_t>> calls;
    calls.clear();
    Write("pagorex.dat", Pattern(2 * K + 52, 5));
    ScopedStoreFile from(Files().Open(kDataFileName));
    ScopedStoreFile to(Files().Create(kWorkFileName));
    CopyChunks(from.get(), to.get(), 2 * K + 52,
               [](uint32_t chunk, uint32_t remaining) { calls.emplace_back(chunk, remaining); });
    std::vector<std::pair<uint32_t, uint32_t>> expected = {{1, K + 52}, {2, 52}, {3, 0}};
    EXPECT_EQ(calls, expected);
}

struct SinkFaultCase {
    const char* what;
    StoreFault fault;
    int nth;
    uint32_t copied;
};

const SinkFaultCase kSinkFaults[] = {
    {"first file write fails", StoreFault::FailWrite, 1, 0},
    {"third file write fails", StoreFault::FailWrite, 3, 2 * K},
    {"second file write falls short", StoreFault::ShortWrite, 2, K},
};

TEST_F(StoreFiles, ASinkThatFailsStopsTheCopyAndIsReported)
{
    for (const SinkFaultCase& c : kSinkFaults) {
        SCOPED_TRACE(c.what);
        Write("pagorex.dat", Pattern(4 * K + 100, 6));
        ScopedStoreFile from(Files().Open(kDataFileName));
        SetStoreFault(c.fault, kWorkFileName, c.nth);
        ScopedStoreFile to(Files().Create(kWorkFileName));
        CopyOutcome outcome = CopyChunks(from.get(), to.get(), 4 * K + 100);
        ClearStoreFault();
        EXPECT_TRUE(outcome.sinkFailed);
        EXPECT_EQ(outcome.copied, c.copied);
    }
}

struct AppendCase {
    const char* what;
    size_t dataSize;
    size_t workSize;
};

const AppendCase kAppends[] = {
    {"onto an empty data file", 0, 3000},
    {"onto a non-empty data file", 777, 2 * K + 3},
    {"an empty work file", 500, 0},
    {"a single byte", 0, 1},
};

TEST_F(StoreFiles, AppendWorkFilePutsTheWholeWorkFileAtTheEndAndPointsTheRecordAtIt)
{
    for (const AppendCase& c : kAppends) {
        SCOPED_TRACE(c.what);
        Bytes data = Pattern(c.dataSize, 7), work = Pattern(c.workSize, 8);
        Write("pagorex.dat", data);
        Write("pagorex.tmp", work);
        ResetRecordBuffer(12);
        FillReserved(recordBuffer, 9);
        recordBuffer.imageLength = 4321;
        IndexRecord before = recordBuffer;

        ScopedStoreFile dataFile(Files().Open(kDataFileName));
        ASSERT_EQ(AppendWorkFile(Files(), dataFile.get()), StoreFailure::None);
        dataFile.Close();

        EXPECT_EQ(Read("pagorex.dat"), Concat({data, work}));
        EXPECT_EQ(uint32_t{recordBuffer.dataOffset}, c.dataSize);
        EXPECT_EQ(uint32_t{recordBuffer.storedLength}, c.workSize);
        EXPECT_EQ(recordBuffer.compressed, 1);
        // Everything else is carried over.
        IndexRecord expected = before;
        expected.dataOffset = recordBuffer.dataOffset;
        expected.storedLength = recordBuffer.storedLength;
        expected.compressed = 1;
        EXPECT_EQ(RecordBytes(recordBuffer), RecordBytes(expected));
    }
}

struct AppendFailureCase {
    const char* what;
    StoreFault fault;
    const char* file;
    int nth;
};

const AppendFailureCase kAppendFailures[] = {
    {"work file cannot be opened", StoreFault::FailOpen, kWorkFileName, 1},
    {"first write fails", StoreFault::FailWrite, kDataFileName, 1},
    {"third write fails", StoreFault::FailWrite, kDataFileName, 3},
    {"second write falls short", StoreFault::ShortWrite, kDataFileName, 2},
    {"last write falls short", StoreFault::ShortWrite, kDataFileName, 4},
    {"a read of the work file fails", StoreFault::FailRead, kWorkFileName, 2},
};

TEST_F(StoreFiles, AFailedAppendLeavesTheRecordAndTheDataFileAsTheyWere)
{
    Bytes data = Pattern(1500, 10), work = Pattern(3 * K + 500, 11);  // four blocks
    for (const AppendFailureCase& c : kAppendFailures) {
        SCOPED_TRACE(c.what);
        Write("pagorex.dat", data);
        Write("pagorex.tmp", work);
        IndexRecord old = MakeRecord(12, 100, 200, 1, 300);
        FillReserved(old, 1);
        recordBuffer = old;

        ScopedStoreFile dataFile(Files().Open(kDataFileName));
        SetStoreFault(c.fault, c.file, c.nth);
        EXPECT_EQ(AppendWorkFile(Files(), dataFile.get()), StoreFailure::Unwritable);
        ClearStoreFault();
        dataFile.Close();

        EXPECT_EQ(RecordBytes(recordBuffer), RecordBytes(old));
        EXPECT_EQ(Read("pagorex.dat"), data);
    }
}

TEST_F(StoreFiles, ProgressSetsTheMainWindowTitleAndKeepsIt)
{
    ShowProgress(Shell(), "Please wait, compressing 1 of 3");
    char title[128] = "";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Please wait, compressing 1 of 3");
}

TEST_F(StoreFiles, ProgressDispatchesWaitingMessages)
{
    PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
    PostMessageA(window, WM_USER + 1, 0, 0);
    ShowProgress(Shell(), "progress");
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
}
}  // namespace
