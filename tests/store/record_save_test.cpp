// Storing an image for the host record, marking it deleted, and the save command.
#include "app/view.h"
#include "store/core/page_mark.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_files.h"
#include "store_support.h"

#include "app/shell.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
const char kBlobNotStored[] =
    "The image was not stored: it could not be written to the image store (is the disk full, or is a store "
    "file read-only?).\n\nThe record keeps the image it had before.";
const char kRecordNotStored[] =
    "The image was not stored: the image store's index file could not be written (is the disk full, or is "
    "pagorex.idx read-only?).\n\nThe record keeps the image it had before.";
const char kMarkNotStored[] =
    "The image was not removed from the image store: the index file could not be written (is pagorex.idx "
    "read-only?).\n\nThe record keeps its stored image.";

class SaveRecord : public StoreDirectory {
public:
    void TearDown() override
    {
        ClearStoreFault();
        ReleaseCurrentImage();
        StoreDirectory::TearDown();
    }
    bool Save(const Bytes& imageFile) { return SaveImageFile(Shell(), imageFile); }
    // Record 1 in the middle of two others, with foreign reserved bytes, pointing at a
    // blob after another record's blob.
    void LayOutStore()
    {
        oldMember = Gzip(oldImage);
        IndexRecord before = MakeRecord(7, 0, 50, 1, 60), mine = MakeRecord(1, 50, 0, 1, 0),
                    after = MakeRecord(9, 0, 50, 0, 0, 1);
        mine.storedLength = static_cast<uint32_t>(oldMember.size());
        mine.imageLength = static_cast<uint32_t>(oldImage.size());
        FillReserved(before, 1);
        FillReserved(mine, 2);
        FillReserved(after, 3);
        Write("pagorex.dat", Concat({Pattern(50, 4), oldMember}));
        Write("pagorex.idx", Concat({RecordBytes(before), RecordBytes(mine), RecordBytes(after)}));
    }
    // The image that a load of the host's record shows now.
    Bytes Loaded()
    {
        ReleaseCurrentImage();
        LoadRecordImage(Shell());
        return BytesOfDib(currentDib);
    }

    Bytes oldDib = PackedDib(20, 10, 1), newDib = PackedDib(33, 21, 2);
    Bytes oldImage = BitmapFile(oldDib), newImage = BitmapFile(newDib);
    Bytes oldMember;
    Bytes toSave;  // what the window's image is written as
};

TEST_F(SaveRecord, TheFirstSaveCreatesBothFilesWithBlobAndRecordAtZero)
{
    ASSERT_TRUE(Save(newImage));
    std::vector<IndexRecord> records = Records();
    ASSERT_EQ(records.size(), 1u);
    Bytes data = Read("pagorex.dat");
    IndexRecord expected = MakeRecord(1, 0, static_cast<uint32_t>(data.size()), 1,
                                      static_cast<uint32_t>(newImage.size()));
    EXPECT_EQ(RecordBytes(records[0]), RecordBytes(expected));
    EXPECT_EQ(Gunzip(data), newImage);
    EXPECT_EQ(Read("pagorex.idx").size(), 256u);
    EXPECT_FALSE(Exists("pagorex.2"));
    EXPECT_EQ(Loaded(), newDib);
}

TEST_F(SaveRecord, ASecondSaveAppendsAnotherBlobAndRewritesTheSameRecord)
{
    ASSERT_TRUE(Save(oldImage));
    Bytes firstData = Read("pagorex.dat");
    ASSERT_TRUE(Save(newImage));
    Bytes data = Read("pagorex.dat");
    ASSERT_EQ(Records().size(), 1u);
    IndexRecord record = Records()[0];
    EXPECT_EQ(uint32_t{record.dataOffset}, firstData.size());
    EXPECT_EQ(Bytes(data.begin(), data.begin() + firstData.size()), firstData);
    EXPECT_EQ(Gunzip(Bytes(data.begin() + firstData.size(), data.end())), newImage);
    EXPECT_EQ(uint32_t{record.imageLength}, newImage.size());
    EXPECT_EQ(Loaded(), newDib);
}

TEST_F(SaveRecord, AnExistingRecordKeepsItsPlaceAndReservedBytesAndOthersAreUntouched)
{
    LayOutStore();
    std::vector<IndexRecord> before = Records();
    ASSERT_TRUE(Save(newImage));
    std::vector<IndexRecord> after = Records();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(RecordBytes(after[0]), RecordBytes(before[0]));
    EXPECT_EQ(RecordBytes(after[2]), RecordBytes(before[2]));
    IndexRecord expected = before[1];
    expected.dataOffset = static_cast<uint32_t>(50 + oldMember.size());
    expected.storedLength = static_cast<uint32_t>(Read("pagorex.dat").size() - expected.dataOffset);
    expected.imageLength = static_cast<uint32_t>(newImage.size());
    EXPECT_EQ(RecordBytes(after[1]), RecordBytes(expected));
}

TEST_F(SaveRecord, OnlyTheFirstOfDuplicateRecordsIsRewritten)
{
    Write("pagorex.idx", Concat({RecordBytes(MakeRecord(1, 0, 0, 1, 0)), RecordBytes(MakeRecord(1, 5, 5, 1, 5))}));
    ASSERT_TRUE(Save(newImage));
    std::vector<IndexRecord> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(uint32_t{records[0].imageLength}, newImage.size());
    EXPECT_EQ(RecordBytes(records[1]), RecordBytes(MakeRecord(1, 5, 5, 1, 5)));
}

TEST_F(SaveRecord, ANewRecordAfterATrailingFragmentLandsOnTheRecordGrid)
{
    Write("pagorex.idx", Concat({RecordBytes(MakeRecord(4, 0, 0, 1, 0)), Bytes(100, 0xEE)}));
    ASSERT_TRUE(Save(newImage));
    EXPECT_EQ(Read("pagorex.idx").size(), 512u);
    EXPECT_EQ(int32_t{Records()[1].recordNumber}, 1);
    EXPECT_EQ(Loaded(), newDib);
}

TEST_F(SaveRecord, MarkingDeletedKeepsTheBlobAndSavingAgainReusesTheRecord)
{
    LayOutStore();
    Bytes data = Read("pagorex.dat");
    IndexRecord before = Records()[1];
    ASSERT_TRUE(SaveNoImage(Shell()));
    IndexRecord marked = before;
    marked.deleted = 1;
    EXPECT_EQ(RecordBytes(Records()[1]), RecordBytes(marked));
    EXPECT_EQ(Read("pagorex.dat"), data);
    EXPECT_TRUE(Loaded().empty());

    ASSERT_TRUE(Save(newImage));
    ASSERT_EQ(Records().size(), 3u);
    EXPECT_EQ(Records()[1].deleted, 0);
    EXPECT_EQ(Loaded(), newDib);
}

TEST_F(SaveRecord, MarkingDeletedWithoutARecordWritesNothing)
{
    EXPECT_TRUE(SaveNoImage(Shell()));
    EXPECT_FALSE(Exists("pagorex.idx"));
    Bytes index = Concat({RecordBytes(MakeRecord(2, 0, 0, 1, 0)), Bytes(30, 1)});
    Write("pagorex.idx", index);
    EXPECT_TRUE(SaveNoImage(Shell()));
    EXPECT_EQ(Read("pagorex.idx"), index);
}

TEST_F(SaveRecord, ARecordAStoppedCompactionMovedGetsTheNewBlobInTheDataFile)
{
    oldMember = Gzip(oldImage);
    Write("pagorex.new", oldMember);
    Write("pagorex.dat", Pattern(500, 6));
    Write("pagorex.idx", RecordBytes(MakeRecord(1, 0, static_cast<uint32_t>(oldMember.size()), 1,
                                                static_cast<uint32_t>(oldImage.size()))));
    ASSERT_TRUE(Save(newImage));
    EXPECT_EQ(Loaded(), newDib);
    EXPECT_FALSE(Exists("pagorex.new"));  // nothing points into it any more
    EXPECT_GE(uint32_t{Records()[0].dataOffset}, 500u);
}

// Counts the title changes of the window while passing everything on.
WNDPROC staticProc = nullptr;
std::vector<std::string> titles;
LRESULT CALLBACK CountTitles(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT)
        titles.emplace_back(reinterpret_cast<const char*>(lParam));
    return CallWindowProcA(staticProc, window, message, wParam, lParam);
}

TEST_F(SaveRecord, ProgressShowsTheBytesLeftAfterTheFirstBlockAndThenOnlyAFewTimesASecond)
{
    staticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountTitles)));
    const std::string prefix = "Please wait, compressing database...";
    for (size_t size : {size_t{10 * 1024}, size_t{kChunkSize}, size_t{kChunkSize + 1}, size_t{5 * kChunkSize + 7}}) {
        SCOPED_TRACE(size);
        SetWindowTextA(window, "before");
        titles.clear();
        DWORD start = GetTickCount();
        ASSERT_TRUE(Save(Pattern(size, 3)));
        DWORD elapsed = GetTickCount() - start;
        char title[128] = "";
        GetWindowTextA(window, title, sizeof title);
        if (size <= kChunkSize) {
            // Done in a moment: no progress, and no commands let in.
            EXPECT_TRUE(titles.empty()) << titles.front();
            EXPECT_EQ(std::string(title), "before");
            continue;
        }
        ASSERT_FALSE(titles.empty()) << "the user sees no progress";
        EXPECT_EQ(titles[0], prefix + std::to_string(size - kChunkSize) + " left");
        uint64_t lastLeft = UINT64_MAX;
        for (const std::string& text : titles) {
            ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
            uint64_t left = std::stoull(text.substr(prefix.size()));
            EXPECT_EQ(text, prefix + std::to_string(left) + " left");
            EXPECT_LT(left, lastLeft) << "the work moves on";
            lastLeft = left;
        }
        EXPECT_LE(titles.size(), 2 + elapsed / ProgressPace::kIntervalMs) << "titles are not paced";
        EXPECT_EQ(std::string(title), titles.back()) << "the last text stays";
    }
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(staticProc));
}

struct BlobFailureCase {
    const char* what;
    void (*prepare)(SaveRecord& test);
    StoreFault fault;
    const char* file;
    int nth;
};

// Every way the new blob fails to get into the data file in full.
const BlobFailureCase kBlobFailures[] = {
    // An existing data file that cannot be opened must not be created afresh either.
    {"data file cannot be opened", nullptr, StoreFault::FailOpen, kDataFileName, 1},
    {"directory in place of the data file",
     [](SaveRecord& t) {
         DeleteFileA(t.Path("pagorex.dat").c_str());
         t.MakeDirectoryAt("pagorex.dat");
     },
     StoreFault::None, "", 0},
    {"second work file empty", [](SaveRecord& t) { t.toSave.clear(); }, StoreFault::None, "", 0},
    {"directory in place of the work file", [](SaveRecord& t) { t.MakeDirectoryAt("pagorex.tmp"); },
     StoreFault::None, "", 0},
    {"work file cannot be created", nullptr, StoreFault::FailCreate, kWorkFileName, 1},
    {"writing the first compressed block to the work file fails", nullptr, StoreFault::FailWrite, kWorkFileName, 2},
    {"writing the gzip header to the work file falls short", nullptr, StoreFault::ShortWrite, kWorkFileName, 1},
    {"work file cannot be reopened for the append", nullptr, StoreFault::FailOpen, kWorkFileName, 1},
    {"first append write fails (disk full)", nullptr, StoreFault::FailWrite, kDataFileName, 1},
    {"later append write fails", nullptr, StoreFault::FailWrite, kDataFileName, 2},
    {"append write falls short", nullptr, StoreFault::ShortWrite, kDataFileName, 2},
    {"appended blob cannot be flushed to the disk", nullptr, StoreFault::FailFlush, kDataFileName, 1},
};

TEST_F(SaveRecord, ABlobNotStoredInFullKeepsTheOldRecordAndTellsTheUser)
{
    for (const BlobFailureCase& c : kBlobFailures) {
        SCOPED_TRACE(c.what);
        LayOutStore();
        Bytes index = Read("pagorex.idx");
        Bytes data = Read("pagorex.dat");
        toSave = Concat({newImage, Pattern(3 * kChunkSize, 5)});  // four blocks
        if (c.prepare)
            c.prepare(*this);
        if (c.fault != StoreFault::None)
            SetStoreFault(c.fault, c.file, c.nth);
        bool stored;
        std::vector<boxes::SeenBox> boxes;
        {
            boxes::BoxWatcher watcher;
            stored = SaveImageFile(Shell(), toSave);
            boxes = watcher.Seen();
        }
        ClearStoreFault();
        EXPECT_FALSE(stored);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "PAGOREX");
        EXPECT_EQ(boxes[0].text, kBlobNotStored);
        EXPECT_EQ(Read("pagorex.idx"), index);
        if (!(GetFileAttributesA(Path("pagorex.dat").c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_EQ(Read("pagorex.dat"), data);
            RemoveDirectoryA(Path("pagorex.tmp").c_str());  // the load needs its work file
            EXPECT_EQ(Loaded(), oldDib);
        }
        StoreDirectory::TearDown();
        StoreDirectory::SetUp();
    }
}

TEST_F(SaveRecord, ANewRecordWhoseBlobFailsIsNotWrittenAtAll)
{
    Write("pagorex.idx", RecordBytes(MakeRecord(3, 0, 0, 1, 0)));
    SetStoreFault(StoreFault::FailWrite, kDataFileName);
    boxes::BoxWatcher watcher;
    EXPECT_FALSE(Save(newImage));
    EXPECT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_EQ(Read("pagorex.dat").size(), 0u);
}

struct IndexFailureCase {
    const char* what;
    void (*prepare)(SaveRecord& test);
    StoreFault fault;
    int times;
    bool cannotOpenBox;  // "Can't open/create" comes first
};

TEST_F(SaveRecord, AnIndexRecordNotWrittenIsReportedAndLeavesNoBrokenRecord)
{
    const IndexFailureCase cases[] = {
        {"index file cannot be opened", nullptr, StoreFault::FailOpen, 1 << 30, true},
        {"directory in place of the index file",
         [](SaveRecord& t) {
             DeleteFileA(t.Path("pagorex.idx").c_str());
             t.MakeDirectoryAt("pagorex.idx");
         },
         StoreFault::None, 0, true},
        {"rewrite fails", nullptr, StoreFault::FailWrite, 1 << 30, false},
        {"rewrite falls short once", nullptr, StoreFault::ShortWrite, 1, false},
        {"rewritten record cannot be flushed to the disk", nullptr, StoreFault::FailFlush, 1 << 30, false},
        {"new record falls short", [](SaveRecord& t) { t.UseRecord(5); }, StoreFault::ShortWrite, 1 << 30,
         false},
    };
    for (const IndexFailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        LayOutStore();
        Bytes index = Read("pagorex.idx");
        if (c.prepare)
            c.prepare(*this);
        if (c.fault != StoreFault::None)
            SetStoreFault(c.fault, kIndexFileName, 1, c.times);
        std::vector<boxes::SeenBox> boxes;
        bool stored = true;
        {
            boxes::BoxWatcher watcher;
            stored = Save(newImage);
            boxes = watcher.Seen();
        }
        ClearStoreFault();
        EXPECT_FALSE(stored);
        ASSERT_EQ(boxes.size(), c.cannotOpenBox ? 2u : 1u);
        if (c.cannotOpenBox) {
            EXPECT_EQ(boxes.front().caption, Path("pagorex.idx"));
            EXPECT_EQ(boxes.front().text, "Can't open/create");
        }
        EXPECT_EQ(boxes.back().caption, "PAGOREX");
        EXPECT_EQ(boxes.back().text, kRecordNotStored);
        if (!(GetFileAttributesA(Path("pagorex.idx").c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_EQ(Read("pagorex.idx"), index);
            UseRecord(1);
            EXPECT_EQ(Loaded(), oldDib);
        }
        StoreDirectory::TearDown();
        StoreDirectory::SetUp();
    }
}

TEST_F(SaveRecord, AMarkThatCannotBeWrittenIsReported)
{
    struct {
        const char* what;
        StoreFault fault;
    } const cases[] = {{"index cannot be opened", StoreFault::FailOpen},
                       {"write fails", StoreFault::FailWrite},
                       {"mark cannot be flushed to the disk", StoreFault::FailFlush}};
    for (auto c : cases) {
        SCOPED_TRACE(c.what);
        LayOutStore();
        Bytes index = Read("pagorex.idx");
        SetStoreFault(c.fault, kIndexFileName);
        std::vector<boxes::SeenBox> boxes;
        {
            boxes::BoxWatcher watcher;
            EXPECT_FALSE(SaveNoImage(Shell()));
            boxes = watcher.Seen();
        }
        ClearStoreFault();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "PAGOREX");
        EXPECT_EQ(boxes[0].text, kMarkNotStored);
        EXPECT_EQ(Read("pagorex.idx"), index);
        StoreDirectory::TearDown();
        StoreDirectory::SetUp();
    }
}

TEST_F(SaveRecord, AnIndexThatOpensOnlyAfterTheAppendStillGetsTheRecordInItsPlace)
{
    LayOutStore();
    IndexRecord before = Records()[1];
    // The first open only looks for a record a stopped compaction moved.
    SetStoreFault(StoreFault::FailOpen, kIndexFileName, 2, 1);
    std::vector<boxes::SeenBox> boxes;
    {
        boxes::BoxWatcher watcher;
        EXPECT_TRUE(Save(newImage));
        boxes = watcher.Seen();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can't open/create");
    EXPECT_EQ(boxes[0].caption, Path("pagorex.idx"));
    std::vector<IndexRecord> records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(uint32_t{records[1].dataOffset}, 50 + oldMember.size());
    EXPECT_EQ(std::memcmp(records[1].reserved, before.reserved, sizeof before.reserved), 0);
    EXPECT_EQ(Loaded(), newDib);
}

// Documents saved one after another, beside records of other numbers (0: the delete
// mark). Each loads back page for page; the neighbours and another writer's reserved bytes
// stay; page 1 carries a mark only for several pages; every record of the number that is
// no page is deleted, and later saves reuse those, so the index stays bounded.
TEST_F(SaveRecord, DocumentsLoadBackPageForPageAndReuseTheRecordsTheyLeave)
{
    const struct {
        const char* what;
        int32_t record;
        bool plain;  // record 1 as an earlier writer left it
        std::vector<uint32_t> saves;
    } cases[] = {
        {"a new record of three pages", 5, false, {3}},
        {"a record that grows, shrinks to one page and grows again", 1, false, {2, 5, 1, 4}},
        {"a plain record replaced by a document", 1, true, {3}},
        {"a document cleared and saved again", 1, false, {3, 0, 2}},
        {"twenty saves of varying size", 1, false, {3, 6, 1, 5, 2, 6, 4, 1, 6, 3, 2, 5, 6, 1, 4, 6, 2, 3, 5, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LayOutStore();
        if (c.plain) {
            IndexRecord plain = MakeRecord(1, static_cast<uint32_t>(Read("pagorex.dat").size()),
                                           static_cast<uint32_t>(oldImage.size()), 0, 0);
            FillReserved(plain, 2);
            Write("pagorex.dat", Concat({Read("pagorex.dat"), oldImage}));
            Bytes index = Read("pagorex.idx");
            std::copy_n(RecordBytes(plain).begin(), kIndexRecordSize, index.begin() + kIndexRecordSize);
            Write("pagorex.idx", index);
        }
        std::vector<IndexRecord> before = Records();
        UseRecord(c.record);
        uint8_t seed = 10;
        for (uint32_t count : c.saves) {
            std::vector<Bytes> pages;
            for (uint32_t page = 0; page < count; ++page)
                pages.push_back(BitmapFile(PackedDib(5 + page, 3 + count, seed++)));
            ASSERT_TRUE(count ? SavePages(Shell(), pages) : SaveNoImage(Shell()));
            EXPECT_EQ(LoadPages(directory, c.record), count ? pages : std::vector<Bytes>{Bytes{}}) << count;
            std::vector<IndexRecord> after = Records();
            EXPECT_LE(after.size(), before.size() + 1 + 2 * 5) << "records of earlier saves not reused";
            EXPECT_EQ(RecordBytes(after[0]), RecordBytes(before[0]));
            EXPECT_EQ(RecordBytes(after[2]), RecordBytes(before[2]));
            EXPECT_EQ(std::memcmp(after[1].reserved, before[1].reserved, kPageMarkOffset - 18), 0);
            uint32_t live = 0;
            for (const IndexRecord& r : after)
                live += r.recordNumber == c.record && !r.deleted;
            EXPECT_EQ(live, count);
            auto first = std::find_if(after.begin(), after.end(), [&](const IndexRecord& r) {
                return r.recordNumber == c.record;
            });
            if (count > 0) {
                EXPECT_EQ(ReadPageMark(*first).has_value(), count > 1);
            }
        }
        StoreDirectory::TearDown();
        StoreDirectory::SetUp();
    }
}

using SaveCommandTest = SaveRecord;

TEST_F(SaveCommandTest, StoresTheCurrentImageAndRemovesTheSecondWorkFile)
{
    LayOutStore();
    documentPages = {currentDib = DibFromBytes(newDib)};
    EXPECT_TRUE(SaveCommand(window));
    EXPECT_FALSE(Exists("pagorex.2"));
    EXPECT_NE(currentDib, nullptr);  // the window keeps showing it
    EXPECT_EQ(Records().size(), 3u);
    EXPECT_EQ(Loaded(), newDib);
}

TEST_F(SaveCommandTest, WithoutAnImageTheRecordIsMarkedDeleted)
{
    LayOutStore();
    Write("pagorex.2", Pattern(10, 1));  // left over from an earlier run
    EXPECT_TRUE(SaveCommand(window));
    EXPECT_EQ(Records()[1].deleted, 1);
    EXPECT_FALSE(Exists("pagorex.2"));
}

TEST_F(SaveCommandTest, ABitmapThatCannotBeWrittenShowsString705AndStoresNothing)
{
    LayOutStore();
    Bytes index = Read("pagorex.idx"), data = Read("pagorex.dat");
    MakeDirectoryAt("pagorex.2");
    documentPages = {currentDib = DibFromBytes(newDib)};
    std::vector<boxes::SeenBox> boxes;
    {
        boxes::BoxWatcher watcher;
        EXPECT_FALSE(SaveCommand(window));
        boxes = watcher.Seen();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "PAGOREX");
    EXPECT_EQ(boxes[0].text, "Error writing DIB to file - is there room for the image?");
    EXPECT_EQ(Read("pagorex.idx"), index);
    EXPECT_EQ(Read("pagorex.dat"), data);
}
}  // namespace
