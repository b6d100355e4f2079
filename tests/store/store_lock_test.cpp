// Another program on the same store, played by the test's own handle on the index file:
// every store operation waits while that program holds the store as the operation must
// not meet it and then does exactly what it does alone; it gives up without touching the
// store when the user closes the window meanwhile, and tells the user when the store
// cannot be locked at all. Nothing stays locked after an operation.
#include "store/compaction.h"
#include "store/store.h"
#include "store_support.h"
#include "support/store_hold.h"

#include "app/view.h"

#include <string>

namespace {
// How the other program holds the store.
enum class Hold { Reading, Writing, LoadingImage };

void TakeHold(StoreHold& other, Hold hold)
{
    ASSERT_TRUE(other.Take(kStoreLockOffset, hold == Hold::Writing, true));
    if (hold == Hold::LoadingImage) {
        ASSERT_TRUE(other.Take(kWorkFilesLockOffset, true, true));
    }
}

enum class Operation { Load, Save, Mark, Compact, Recover };

struct OperationRow {
    const char* name;
    Operation operation;
    bool reads;                // beside other readers (a load; a repair with nothing to repair)
    const char* toldOnClose;   // the message of an operation given up, if any
    const char* askedFirst = nullptr;  // a question asked before the store is taken
};
const OperationRow kOperations[] = {
    {"load", Operation::Load, true, nullptr},
    {"save", Operation::Save, false,
     "(program): The image was not stored: the window was closed while another program was using the image "
     "store.\n\nThe record keeps the image it had before."},
    {"delete mark", Operation::Mark, false,
     "(program): The image was not removed from the image store: the window was closed while another program was "
     "using the store.\n\nThe record keeps its stored image."},
    {"forced compaction", Operation::Compact, false, nullptr},
    {"recovery", Operation::Recover, true, nullptr,
     ": ARE YOU SURE YOU WISH TO PROCEED?\nThis should only be done ONCE, and never again touched."},
};

// Everything of the store an operation may change, and what the host saw.
struct Outcome {
    Bytes index, data, newData;
    bool answer = false;
    std::vector<std::string> messages;
    std::optional<Bytes> shown;
    bool operator==(const Outcome&) const = default;
};

class StoreLockTest : public StoreDirectory {
protected:
    void TearDown() override
    {
        ClearStoreFault();
        ReleaseCurrentImage();
        StoreDirectory::TearDown();
    }
    // Record 1 (the host's, compressed) and record 2 (plain, so a forced compaction has
    // work), stale bytes between them.
    void LayOut()
    {
        Bytes first = BitmapFile(PackedDib(30, 20, 1)), second = BitmapFile(PackedDib(25, 14, 2));
        Bytes member = Gzip(first), stale = Pattern(300, 3);
        IndexRecord one = MakeRecord(1, 0, static_cast<uint32_t>(member.size()), 1, static_cast<uint32_t>(first.size()));
        IndexRecord two = MakeRecord(2, static_cast<uint32_t>(member.size() + stale.size()),
                                     static_cast<uint32_t>(second.size()), 0, 0);
        Write("pagorex.idx", Concat({RecordBytes(one), RecordBytes(two)}));
        Write("pagorex.dat", Concat({member, stale, second}));
    }
    Outcome Run(Operation operation, RecordingHost& host)
    {
        Outcome outcome;
        outcome.answer = true;
        switch (operation) {
        case Operation::Load:
            LoadRecordImage(host);
            break;
        case Operation::Save:
            outcome.answer = SaveImageFile(host, newImage);
            break;
        case Operation::Mark:
            outcome.answer = SaveNoImage(host);
            break;
        case Operation::Compact:
            outcome.answer = CompactStore(host, 1);
            break;
        case Operation::Recover:
            RecoverFromNewData(host);
            break;
        }
        outcome.index = Read("pagorex.idx");
        outcome.data = Read("pagorex.dat");
        outcome.newData = Read("pagorex.new");
        outcome.messages = host.messages;
        outcome.shown = host.shown;
        return outcome;
    }
    // The store as laid out, before any operation.
    Outcome Untouched() const
    {
        Outcome outcome;
        outcome.index = Read("pagorex.idx");
        outcome.data = Read("pagorex.dat");
        return outcome;
    }
    // What the operation does when no other program is about.
    Outcome Alone(Operation operation)
    {
        LayOut();
        RecordingHost host(directory, 1);
        Outcome outcome = Run(operation, host);
        EXPECT_EQ(host.waits, 0);
        Fresh();
        return outcome;
    }
    void Fresh()
    {
        ClearStoreFault();
        StoreDirectory::TearDown();
        StoreDirectory::SetUp();
    }
    // Nothing of the store stays locked: a writer gets it at once.
    void ExpectStoreFree()
    {
        StoreHold next(Path("pagorex.idx"));
        EXPECT_TRUE(next.Take(kStoreLockOffset, true, true) && next.Take(kWorkFilesLockOffset, true, true));
    }
    Bytes newImage = BitmapFile(PackedDib(40, 24, 5));
};

TEST_F(StoreLockTest, EachOperationWaitsForTheProgramsItMustNotMeetThenWorksAsAloneOrGivesUp)
{
    struct HoldRow {
        const char* name;
        Hold hold;
        bool loadsWait;  // a load waits for it (writers wait for every hold)
        bool closed;     // the window is closed during the wait; else the other lets go
    };
    const HoldRow holds[] = {
        {"another program reading", Hold::Reading, false, false},
        {"another program writing", Hold::Writing, true, false},
        {"another program loading an image", Hold::LoadingImage, true, false},
        {"another program writing, the window closed", Hold::Writing, true, true},
    };
    for (const OperationRow& op : kOperations) {
        Outcome alone = Alone(op.operation);
        for (const HoldRow& h : holds) {
            SCOPED_TRACE(std::string(op.name) + " with " + h.name);
            LayOut();
            Outcome before = Untouched();
            StoreHold other(Path("pagorex.idx"));
            TakeHold(other, h.hold);
            RecordingHost host(directory, 1);
            host.onWait = [&other, &h](int wait) {
                if (wait == 3 && !h.closed)
                    other.Release();
                return !h.closed || wait < 3;
            };
            Outcome outcome = Run(op.operation, host);
            bool waits = !op.reads || h.loadsWait;
            EXPECT_EQ(host.waits, waits ? 3 : 0);
            EXPECT_EQ(host.waitsEnded, waits ? 1 : 0);
            if (!h.closed) {
                EXPECT_TRUE(outcome == alone) << "the store or what the user saw differs from the operation alone";
            } else {
                // A save or mark given up says so; nothing else has anything to report.
                before.answer = op.toldOnClose == nullptr;
                for (const char* told : {op.askedFirst, op.toldOnClose})
                    if (told)
                        before.messages.push_back(told);
                EXPECT_TRUE(outcome == before) << "the store was touched, or the user told the wrong thing";
            }
            other.Release();
            ExpectStoreFree();
            Fresh();
        }
    }
}

TEST_F(StoreLockTest, AStoreThatCannotBeLockedIsLeftAloneAndTheUserToldButOneWithoutLocksWorksAsAlways)
{
    const std::vector<std::string> told[] = {
        {"(program): The image stored for this record cannot be shown: the image store's index file pagorex.idx "
         "could not be read.\n\nNothing was changed in the store."},
        {"(program): The image was not stored: the image store could not be locked against the other programs that "
         "use it (is the connection to its folder lost?).\n\nThe record keeps the image it had before."},
        {"(program): The image was not removed from the image store: the store could not be locked against the "
         "other programs that use it (is the connection to its folder lost?).\n\nThe record keeps its stored "
         "image."},
        {"Vocalix Imager: The image store could not be compressed: the index file pagorex.idx could not be opened "
         "and locked.\n\nNothing was changed."},
        {": ARE YOU SURE YOU WISH TO PROCEED?\nThis should only be done ONCE, and never again touched.",
         "Sorry: The index file pagorex.idx could not be opened and locked, so nothing was repaired.", ": All done.."},
    };
    for (size_t i = 0; i < std::size(kOperations); ++i) {
        SCOPED_TRACE(kOperations[i].name);
        Outcome alone = Alone(kOperations[i].operation);
        for (StoreFault fault : {StoreFault::FailLock, StoreFault::NoLocking}) {
            LayOut();
            Outcome before = Untouched();
            before.messages = told[i];
            before.answer = kOperations[i].operation != Operation::Save && kOperations[i].operation != Operation::Mark;
            SetStoreFault(fault, kIndexFileName);
            RecordingHost host(directory, 1);
            Outcome outcome = Run(kOperations[i].operation, host);
            EXPECT_EQ(host.waits, 0);
            EXPECT_TRUE(outcome == (fault == StoreFault::FailLock ? before : alone));
            ClearStoreFault();
            ExpectStoreFree();
            Fresh();
        }
    }
}

TEST_F(StoreLockTest, WithoutAnIndexFileOnlyASaveMakesOne)
{
    for (const OperationRow& op : kOperations) {
        SCOPED_TRACE(op.name);
        RecordingHost host(directory, 1);
        EXPECT_TRUE(Run(op.operation, host).answer) << "nothing to store counts as stored";
        EXPECT_EQ(Exists("pagorex.idx"), op.operation == Operation::Save);
        if (op.operation == Operation::Save) {
            EXPECT_EQ(Records().size(), 1u);
            EXPECT_EQ(Gunzip(Read("pagorex.dat")), newImage);
        }
        Fresh();
    }
}

// Another program's compaction under a running program moves the record it loaded at its
// start into a shorter data file. A later save or delete mark finds the record again
// under the lock and uses nothing it read before.
TEST_F(StoreLockTest, AfterAnotherProgramsCompactionNothingReadBeforeIsUsed)
{
    for (bool save : {true, false}) {
        SCOPED_TRACE(save ? "save" : "delete mark");
        LayOut();
        RecordingHost host(directory, 1);
        LoadRecordImage(host);
        ASSERT_TRUE(host.shown.has_value() && !host.shown->empty());
        // The other compaction: record 2's blob first, compressed now, then record 1's.
        std::vector<IndexRecord> records = Records();
        Bytes data = Read("pagorex.dat");
        Bytes one(data.begin() + records[0].dataOffset, data.begin() + records[0].dataOffset + records[0].storedLength);
        Bytes plain(data.begin() + records[1].dataOffset, data.end()), two = Gzip(plain);
        records[1] = MakeRecord(2, 0, static_cast<uint32_t>(two.size()), 1, static_cast<uint32_t>(plain.size()));
        records[0].dataOffset = static_cast<uint32_t>(two.size());
        Bytes compacted = Concat({two, one});
        Write("pagorex.dat", compacted);
        Write("pagorex.idx", Concat({RecordBytes(records[0]), RecordBytes(records[1])}));

        EXPECT_TRUE(save ? SaveImageFile(host, newImage) : SaveNoImage(host));
        std::vector<IndexRecord> after = Records();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_EQ(RecordBytes(after[1]), RecordBytes(records[1])) << "the other record was changed";
        Bytes now = Read("pagorex.dat");
        EXPECT_EQ(Bytes(now.begin(), now.begin() + compacted.size()), compacted) << "compacted blobs were changed";
        IndexRecord expected = records[0];
        if (save) {
            expected = MakeRecord(1, static_cast<uint32_t>(compacted.size()),
                                  static_cast<uint32_t>(now.size() - compacted.size()), 1,
                                  static_cast<uint32_t>(newImage.size()));
            EXPECT_EQ(Gunzip(Bytes(now.begin() + compacted.size(), now.end())), newImage);
        }
        expected.deleted = save ? 0 : 1;
        EXPECT_EQ(RecordBytes(after[0]), RecordBytes(expected)) << "the record does not point where it should";
        Fresh();
    }
}
}  // namespace
