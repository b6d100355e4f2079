// A read of the index file that fails (a flaky network disk) at every point of every
// operation that scans it: load, save, marking deleted, compaction, recovery, on a settled
// store and on one a stopped compaction left behind. A read error is never taken for the
// end of the index: the operation either succeeds or tells the user, and every record
// still yields its own image.
#include "compact_support.h"

#include "app/shell.h"
#include "app/view.h"
#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store.h"
#include "store/store_files.h"

#include <functional>

namespace {
constexpr int32_t kHost = 14;  // the fourth record
constexpr size_t kHostIndex = 3;

bool StopAfterThird(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record == 2;
}

class ReadFaultTest : public CompactTest {
public:
    using CompactTest::Title;

protected:
    void SetUp() override
    {
        CompactTest::SetUp();
        UseRecord(kHost);
    }
    void TearDown() override
    {
        ReleaseCurrentImage();
        CompactTest::TearDown();
    }
    // Six records of real bitmaps, plain and compressed; stopped: a compaction moved the
    // first three into pagorex.new and was stopped there.
    void LayOutStore(bool stopped)
    {
        DeleteFileA(Path("pagorex.new").c_str());
        std::vector<Entry> entries;
        dibs.clear();
        for (int i = 0; i < 6; ++i) {
            dibs.push_back(PackedDib(30 + 7 * i, 20 + i, static_cast<uint8_t>(i)));
            entries.push_back({11 + i, BitmapFile(dibs.back()), i % 2 == 0, 0, i == 4 ? size_t{300} : size_t{0}});
        }
        images = Store(entries).images;
        if (stopped) {
            SetStoreStopHook(StopAfterThird);
            CompactStore(Shell(), 1);
            SetStoreStopHook(nullptr);
            ASSERT_TRUE(Exists("pagorex.new"));
        }
    }
    size_t HostRecords()
    {
        size_t count = 0;
        for (const IndexRecord& r : Records())
            count += r.recordNumber == kHost;
        return count;
    }

public:
    std::vector<Bytes> dibs, images;
};

struct Operation {
    const char* name;
    // Runs the operation and answers whether it did what was asked; the images the
    // records must yield afterwards are updated for a success.
    std::function<bool(ReadFaultTest&)> run;
    bool onSettledStore;
    const char* failureCaption;  // of the box that tells a failure
    std::vector<int> answers = {};
};

const Bytes kNewDib = PackedDib(41, 17, 99);

const Operation kOperations[] = {
    {"load",
     [](ReadFaultTest& t) {
         ReleaseCurrentImage();
         LoadRecordImage(t.Shell());
         return BytesOfDib(currentDib) == t.dibs[kHostIndex];
     },
     true, "PAGOREX"},
    {"save",
     [](ReadFaultTest& t) {
         if (!SaveImageFile(t.Shell(), BitmapFile(kNewDib)))
             return false;
         t.images[kHostIndex] = BitmapFile(kNewDib);
         return true;
     },
     true, "PAGOREX"},
    {"mark deleted",
     [](ReadFaultTest& t) { return SaveNoImage(t.Shell()) && t.Records()[kHostIndex].deleted == 1; },
     true, "PAGOREX"},
    {"compaction",
     [](ReadFaultTest& t) {
         CompactStore(t.Shell(), 1);
         return t.Title() == "Completed compressing" && !t.Exists("pagorex.new");
     },
     true, "Vocalix Imager"},
    {"recovery",
     [](ReadFaultTest& t) {
         RecoverFromNewData(t.Shell());
         return !t.Exists("pagorex.new");
     },
     false, "Sorry", {IDYES, IDYES}},
};

TEST_F(ReadFaultTest, AReadErrorIsNeverTakenForTheEndOfTheIndex)
{
    for (const Operation& op : kOperations) {
        for (bool stopped : {false, true}) {
            if (!stopped && !op.onSettledStore)
                continue;
            int failed = 0, succeeded = 0;
            for (int nth = 1; nth <= 14; ++nth) {
                SCOPED_TRACE(testing::Message() << op.name << (stopped ? " after a stopped compaction" : "")
                                                << ", read " << nth << " of pagorex.idx fails");
                LayOutStore(stopped);
                SetWindowTextA(window, "before");
                SetStoreFault(StoreFault::FailRead, "pagorex.idx", nth, 1);
                boxes::BoxWatcher watcher(op.answers);
                bool done = op.run(*this);
                ClearStoreFault();
                (done ? succeeded : failed)++;
                bool told = false;
                for (const boxes::SeenBox& box : watcher.Seen())
                    told = told || box.caption == op.failureCaption;
                EXPECT_TRUE(done || told) << "a failure nobody was told of";
                EXPECT_EQ(HostRecords(), 1u) << "a second record for the host hides the first";
                ExpectEveryImage(images);
                if (HasFailure())
                    return;
            }
            // The fault reached the operation's scans, and once past them it succeeded.
            EXPECT_GT(failed, 0) << op.name;
            EXPECT_GT(succeeded, 0) << op.name;
        }
    }
}

TEST_F(ReadFaultTest, ADataFileReadErrorStopsCompactionBeforeTheDataFileIsReplaced)
{
    // One read for each of the six blobs.
    for (int nth = 1; nth <= 6; ++nth) {
        SCOPED_TRACE(nth);
        LayOutStore(false);
        Bytes index = Read("pagorex.idx"), data = Read("pagorex.dat");
        SetStoreFault(StoreFault::FailRead, "pagorex.dat", nth, 1);
        std::vector<std::string> texts = boxes::BoxTextsShownBy([&] { CompactStore(Shell(), 1); });
        ClearStoreFault();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_NE(texts[0].find("could not be read from pagorex.dat"), std::string::npos) << texts[0];
        EXPECT_EQ(Read("pagorex.idx"), index);
        EXPECT_EQ(Read("pagorex.dat"), data);
        ExpectSettled(images);
    }
}
}  // namespace
