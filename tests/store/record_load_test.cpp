// Loading the host record's image at window creation.
#include "app/view.h"
#include "store/store.h"
#include "store/store_files.h"
#include "store_support.h"
#include "support/store_files.h"

#include "app/shell.h"

namespace {
class LoadRecord : public StoreDirectory {
public:
    void TearDown() override
    {
        ClearStoreFault();
        ReleaseCurrentImage();
        StoreDirectory::TearDown();
    }
    // The host's record 1 as a compressed blob after some leading garbage.
    void StoreCompressed(const Bytes& image, uint8_t deleted = 0)
    {
        Bytes member = Gzip(image);
        Write("pagorex.dat", Concat({Pattern(100, 1), member}));
        Write("pagorex.idx", RecordBytes(MakeRecord(1, 100, static_cast<uint32_t>(member.size()), 1,
                                                    static_cast<uint32_t>(image.size()), deleted)));
    }
    bool NoWorkFilesLeft() const { return !Exists("pagorex.tmp") && !Exists("pagorex.2"); }

    Bytes dib = PackedDib(31, 17, 5);
    Bytes image = BitmapFile(dib);
};

TEST_F(LoadRecord, ACompressedBlobBecomesTheCurrentImageAndTheWorkFilesGo)
{
    StoreCompressed(image);
    LoadRecordImage(Shell());
    EXPECT_EQ(BytesOfDib(currentDib), dib);
    EXPECT_TRUE(NoWorkFilesLeft());
}

TEST_F(LoadRecord, APlainBlobFromAnEarlierWriterIsShownAsStored)
{
    // Bytes after it in the data file are no part of it.
    Write("pagorex.dat", Concat({Pattern(10, 2), image, Gzip(image)}));
    Write("pagorex.idx", RecordBytes(MakeRecord(1, 10, static_cast<uint32_t>(image.size()), 0, 0)));
    LoadRecordImage(Shell());
    EXPECT_EQ(BytesOfDib(currentDib), dib);
    EXPECT_TRUE(NoWorkFilesLeft());
}

// The image goes from the data file straight into memory: work files left by an earlier
// run neither stand in for it nor stop it, and those that can go are gone afterwards.
TEST_F(LoadRecord, WorkFilesLeftBehindOrUnwritableDoNotStopALoad)
{
    const struct {
        const char* what;
        void (*prepare)(LoadRecord& test);
    } cases[] = {
        {"stale work files of another image",
         [](LoadRecord& t) {
             Bytes other = BitmapFile(PackedDib(6, 6, 4));
             t.Write("pagorex.tmp", other);
             t.Write("pagorex.2", Gzip(other));
         }},
        {"a directory in place of the work file", [](LoadRecord& t) { t.MakeDirectoryAt("pagorex.tmp"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreCompressed(image);
        c.prepare(*this);
        LoadRecordImage(Shell());
        EXPECT_EQ(BytesOfDib(currentDib), dib);
        EXPECT_FALSE(Exists("pagorex.2"));
        RemoveDirectoryA(Path("pagorex.tmp").c_str());
        EXPECT_FALSE(Exists("pagorex.tmp"));
        ReleaseCurrentImage();
    }
}

TEST_F(LoadRecord, TheFirstOfTwoRecordsWithTheSameNumberIsLoaded)
{
    Bytes other = BitmapFile(PackedDib(8, 8, 9));
    Bytes first = Gzip(image), second = Gzip(other);
    Write("pagorex.dat", Concat({first, second}));
    Write("pagorex.idx", Concat({RecordBytes(MakeRecord(2, 0, 1, 1, 1)),
                                 RecordBytes(MakeRecord(1, 0, static_cast<uint32_t>(first.size()), 1,
                                                        static_cast<uint32_t>(image.size()))),
                                 RecordBytes(MakeRecord(1, static_cast<uint32_t>(first.size()),
                                                        static_cast<uint32_t>(second.size()), 1,
                                                        static_cast<uint32_t>(other.size())))}));
    LoadRecordImage(Shell());
    EXPECT_EQ(BytesOfDib(currentDib), dib);
}

TEST_F(LoadRecord, ARecordAStoppedCompactionMovedIsReadFromTheNewDataFile)
{
    Bytes member = Gzip(image);
    Bytes stale = Gzip(BitmapFile(PackedDib(4, 4, 3)));
    Write("pagorex.new", member);
    Write("pagorex.dat", Concat({stale, member}));
    Write("pagorex.idx", RecordBytes(MakeRecord(1, 0, static_cast<uint32_t>(member.size()), 1,
                                                static_cast<uint32_t>(image.size()))));
    LoadRecordImage(Shell());
    EXPECT_EQ(BytesOfDib(currentDib), dib);
}

struct NoImageCase {
    const char* what;
    void (*prepare)(LoadRecord& test, const Bytes& image);
    bool touchesFiles;  // whether the data file is read at all
};

// Every way a load ends without an image.
const NoImageCase kNoImage[] = {
    {"no index file", [](LoadRecord&, const Bytes&) {}, false},
    {"empty index file", [](LoadRecord& t, const Bytes&) { t.Write("pagorex.idx", {}); }, false},
    {"only a fragment for the record",
     [](LoadRecord& t, const Bytes& image) {
         t.StoreCompressed(image);
         Bytes index = t.Read("pagorex.idx");
         index.resize(200);
         t.Write("pagorex.idx", index);
     },
     false},
    {"record of another host record",
     [](LoadRecord& t, const Bytes& image) {
         t.StoreCompressed(image);
         t.UseRecord(2);
     },
     false},
    {"record marked deleted", [](LoadRecord& t, const Bytes& image) { t.StoreCompressed(image, 1); }, false},
    {"data file missing",
     [](LoadRecord& t, const Bytes& image) {
         t.StoreCompressed(image);
         DeleteFileA(t.Path("pagorex.dat").c_str());
     },
     true},
    {"blob cut short",
     [](LoadRecord& t, const Bytes& image) {
         t.StoreCompressed(image);
         Bytes data = t.Read("pagorex.dat");
         data.resize(data.size() / 2);
         t.Write("pagorex.dat", data);
     },
     true},
    {"blob damaged in the middle",
     [](LoadRecord& t, const Bytes& image) {
         t.StoreCompressed(image);
         Bytes data = t.Read("pagorex.dat");
         for (size_t i = 100 + 20; i < 100 + 60 && i < data.size(); ++i)
             data[i] ^= 0x5A;
         t.Write("pagorex.dat", data);
     },
     true},
    {"plain blob cut short",
     [](LoadRecord& t, const Bytes& image) {
         t.Write("pagorex.dat", Bytes(image.begin(), image.begin() + image.size() - 100));
         t.Write("pagorex.idx", RecordBytes(MakeRecord(1, 0, static_cast<uint32_t>(image.size()), 0, 0)));
     },
     true},
    {"offset beyond signed file positions",
     [](LoadRecord& t, const Bytes& image) {
         t.Write("pagorex.dat", image);
         t.Write("pagorex.idx", RecordBytes(MakeRecord(1, 0x80000000u, static_cast<uint32_t>(image.size()), 0, 0)));
     },
     true},
};

TEST_F(LoadRecord, EveryMissingOrBrokenPieceEndsWithoutAnImage)
{
    for (const NoImageCase& c : kNoImage) {
        SCOPED_TRACE(c.what);
        UseRecord(1);
        c.prepare(*this, image);
        if (c.touchesFiles)
            documentPages = {currentDib = DibFromBytes(PackedDib(2, 2, 1))};  // released even when nothing loads
        LoadRecordImage(Shell());
        ClearStoreFault();
        EXPECT_EQ(currentDib, nullptr);
        EXPECT_FALSE(Exists("pagorex.tmp") &&
                     !(GetFileAttributesA(Path("pagorex.tmp").c_str()) & FILE_ATTRIBUTE_DIRECTORY));
        if (!c.touchesFiles) {
            EXPECT_TRUE(NoWorkFilesLeft());
        }
        ReleaseCurrentImage();
        RemoveDirectoryA(Path("pagorex.tmp").c_str());
        DeleteFileA(Path("pagorex.2").c_str());
        DeleteFileA(Path("pagorex.idx").c_str());
        DeleteFileA(Path("pagorex.dat").c_str());
    }
}

// A document that cannot be shown whole shows every page it can, in order (a page that is
// not there: none), and says once which are missing and that saving stores what is shown.
TEST_F(LoadRecord, ADocumentShowsEveryPageItCanInOrderAndNamesTheOthersOnce)
{
    std::vector<Bytes> pages = {image, BitmapFile(PackedDib(9, 4, 6)), BitmapFile(PackedDib(3, 12, 7))};
    const struct {
        const char* what;
        void (*damage)(storefiles::StoreLayout& store);
        std::vector<int> shown;  // the page shown in each place, -1 none
        const char* told;        // part of the one message, or none
    } cases[] = {
        {"whole, with another number's records and an unfinished save's pages between",
         [](storefiles::StoreLayout& s) {
             s.Add(2, Pattern(50, 1));
             s.AddDocument(1, {Pattern(60, 2), Pattern(70, 3)}, 4);
             s.records.erase(s.records.begin() + 4);  // the unfinished save's page 1 never came
             s.Rewrite();
         },
         {0, 1, 2}, nullptr},
        {"pages more than one read of the index apart",
         [](storefiles::StoreLayout& s) {
             storefiles::Record other = s.records[0];
             other.recordNumber = 2;
             s.records.insert(s.records.begin() + 1, 5000, other), s.Rewrite();
         },
         {0, 1, 2}, nullptr},
        {"a page's record missing", [](storefiles::StoreLayout& s) { s.records.erase(s.records.begin() + 1), s.Rewrite(); },
         {0, -1, 2}, "Page 2 of the 3 pages stored for this record could not be shown"},
        {"a page's blob past the end of the data file",
         [](storefiles::StoreLayout& s) { s.records[2].dataOffset = 1u << 30, s.Rewrite(); }, {0, 1, -1},
         "Page 3 of the 3 pages"},
        {"two records claiming a page",
         [](storefiles::StoreLayout& s) { s.records.push_back(s.records[2]), s.records.back().dataOffset = 0, s.Rewrite(); },
         {0, 1, 2}, "Two records of the image store claim page 3; the first of them is shown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        storefiles::StoreLayout store;
        store.AddDocument(1, pages, 3);
        c.damage(store);
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
        std::vector<std::string> told;
        std::vector<Bytes> loaded = LoadPages(directory, 1, &told);
        ASSERT_EQ(loaded.size(), c.shown.size());
        for (size_t i = 0; i < loaded.size(); ++i)
            EXPECT_EQ(loaded[i], c.shown[i] < 0 ? Bytes{} : pages[c.shown[i]]) << "place " << i;
        ASSERT_EQ(told.size(), c.told ? 1u : 0u);
        if (c.told) {
            EXPECT_NE(told[0].find(c.told), std::string::npos) << told[0];
            EXPECT_NE(told[0].find("Save Image stores the document as it is shown now"), std::string::npos);
        }
    }
}
}  // namespace
