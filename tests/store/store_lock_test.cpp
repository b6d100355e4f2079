// Another program on the same store, played by the test's own handle on the index file:
// every store operation waits while that program holds the store as the operation must
// not meet it, then does exactly what it does alone; it gives up without touching the
// store when the user closes the window meanwhile, and tells the user when the store
// cannot be locked at all. Nothing stays locked after an operation.
#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "store/compaction.h"
#include "store/core/store_lock.h"
#include "store/store.h"
#include "store/store_lock.h"
#include "store_support.h"

#include <string>

namespace {
constexpr char kNotStoredWhileWaiting[] =
    "(program): The image was not stored: the window was closed while another program was using the image "
    "store.\n\nThe record keeps the image it had before.";
constexpr char kMarkWhileWaiting[] =
    "(program): The image was not removed from the image store: the window was closed while another program was "
    "using the store.\n\nThe record keeps its stored image.";

// The other program's hold: byte-range locks through its own handle on pagorex.idx.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& index)
        : file_(CreateFileA(index.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~OtherProgram()
    {
        Release();
        CloseHandle(file_);
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;
    // Without waiting: false when someone else holds the byte.
    bool Hold(uint32_t offset, bool exclusive)
    {
        OVERLAPPED at = {};
        at.Offset = offset;
        DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (!LockFileEx(file_, flags, 0, 1, 0, &at))
            return false;
        held_.push_back(offset);
        return true;
    }
    void Release()
    {
        for (uint32_t offset : held_) {
            OVERLAPPED at = {};
            at.Offset = offset;
            UnlockFileEx(file_, 0, 1, 0, &at);
        }
        held_.clear();
    }

private:
    HANDLE file_;
    std::vector<uint32_t> held_;
};

// How the other program holds the store.
enum class Hold { Reading, Writing, LoadingImage };

void TakeHold(OtherProgram& other, Hold hold)
{
    ASSERT_TRUE(other.Hold(kStoreLockOffset, hold == Hold::Writing));
    if (hold == Hold::LoadingImage) {
        ASSERT_TRUE(other.Hold(kWorkFilesLockOffset, true));
    }
}

enum class Operation { Load, Save, Mark, Compact, Recover };

struct OperationRow {
    const char* name;
    Operation operation;
    bool reads;  // a load: beside other readers
};
constexpr OperationRow kOperations[] = {
    {"load", Operation::Load, true},       {"save", Operation::Save, false},
    {"delete mark", Operation::Mark, false}, {"forced compaction", Operation::Compact, false},
    {"recovery", Operation::Recover, false},
};

// Everything of the store directory an operation may change, and what the host saw.
struct Outcome {
    Bytes index, data, newData, work;
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
    // work), a superseded blob between them, and the image a save would store.
    void LayOut()
    {
        Bytes first = BitmapFile(PackedDib(30, 20, 1)), second = BitmapFile(PackedDib(25, 14, 2));
        Bytes member = Gzip(first), stale = Pattern(300, 3);
        IndexRecord one = MakeRecord(1, 0, static_cast<uint32_t>(member.size()), 1, static_cast<uint32_t>(first.size()));
        IndexRecord two = MakeRecord(2, static_cast<uint32_t>(member.size() + stale.size()),
                                     static_cast<uint32_t>(second.size()), 0, 0);
        Write("pagorex.idx", Concat({RecordBytes(one), RecordBytes(two)}));
        Write("pagorex.dat", Concat({member, stale, second}));
        Write("pagorex.2", BitmapFile(PackedDib(40, 24, 5)));
    }
    Outcome Run(Operation operation, RecordingHost& host)
    {
        Outcome outcome;
        switch (operation) {
        case Operation::Load:
            LoadRecordImage(host);
            outcome.answer = true;
            break;
        case Operation::Save:
            outcome.answer = SaveRecordImage(host);
            break;
        case Operation::Mark:
            outcome.answer = MarkRecordDeleted(host);
            break;
        case Operation::Compact:
            outcome.answer = CompactStore(host, 1);
            break;
        case Operation::Recover:
            RecoverFromNewData(host);
            outcome.answer = true;
            break;
        }
        outcome.index = Read("pagorex.idx");
        outcome.data = Read("pagorex.dat");
        outcome.newData = Read("pagorex.new");
        outcome.work = Read("pagorex.2");
        outcome.messages = host.messages;
        outcome.shown = host.shown;
        return outcome;
    }
    // What the operation does on the store when no other program is about.
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
        OtherProgram next(Path("pagorex.idx"));
        EXPECT_TRUE(next.Hold(kStoreLockOffset, true));
        EXPECT_TRUE(next.Hold(kWorkFilesLockOffset, true));
    }
};

TEST_F(StoreLockTest, EachOperationWaitsForTheProgramsItMustNotMeetThenWorksAsAlone)
{
    struct HoldRow {
        const char* name;
        Hold hold;
        bool loadsWait;  // a load waits for it (writers wait for every hold)
    };
    const HoldRow holds[] = {
        {"another program reading", Hold::Reading, false},
        {"another program writing", Hold::Writing, true},
        {"another program loading an image", Hold::LoadingImage, true},
    };
    for (const OperationRow& op : kOperations) {
        Outcome alone = Alone(op.operation);
        for (const HoldRow& h : holds) {
            SCOPED_TRACE(std::string(op.name) + " with " + h.name);
            LayOut();
            OtherProgram other(Path("pagorex.idx"));
            TakeHold(other, h.hold);
            RecordingHost host(directory, 1);
            host.onWait = [&other](int wait) {
                if (wait == 3)
                    other.Release();
                return true;
            };
            Outcome outcome = Run(op.operation, host);
            bool waits = !op.reads || h.loadsWait;
            EXPECT_EQ(host.waits, waits ? 3 : 0);
            EXPECT_EQ(host.waitsEnded, waits ? 1 : 0);
            EXPECT_TRUE(outcome == alone) << "the store or what the user saw differs from the operation alone";
            other.Release();
            ExpectStoreFree();
            Fresh();
        }
    }
}

TEST_F(StoreLockTest, ClosingTheWindowWhileWaitingEndsTheOperationWithoutTouchingTheStore)
{
    for (const OperationRow& op : kOperations) {
        SCOPED_TRACE(op.name);
        LayOut();
        Bytes index = Read("pagorex.idx"), data = Read("pagorex.dat");
        OtherProgram other(Path("pagorex.idx"));
        TakeHold(other, Hold::Writing);
        RecordingHost host(directory, 1);
        host.onWait = [](int wait) { return wait < 2; };
        Outcome outcome = Run(op.operation, host);
        EXPECT_EQ(host.waits, 2);
        EXPECT_EQ(host.waitsEnded, 1);
        EXPECT_TRUE(outcome.index == index && outcome.data == data && outcome.newData.empty());
        EXPECT_FALSE(outcome.shown.has_value()) << "a load that gave up shows nothing";
        std::vector<std::string> told;
        if (op.operation == Operation::Save)
            told = {kNotStoredWhileWaiting};
        if (op.operation == Operation::Mark)
            told = {kMarkWhileWaiting};
        EXPECT_EQ(outcome.messages, told);
        if (op.operation == Operation::Save || op.operation == Operation::Mark) {
            EXPECT_FALSE(outcome.answer) << "reported as stored";
        }
        other.Release();
        ExpectStoreFree();
        Fresh();
    }
}

TEST_F(StoreLockTest, AStoreThatCannotBeLockedIsLeftAloneAndTheUserIsTold)
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
        LayOut();
        Bytes index = Read("pagorex.idx"), data = Read("pagorex.dat");
        SetStoreFault(StoreFault::FailLock, kIndexFileName);
        RecordingHost host(directory, 1);
        Outcome outcome = Run(kOperations[i].operation, host);
        EXPECT_EQ(host.waits, 0);
        EXPECT_EQ(outcome.messages, told[i]);
        EXPECT_TRUE(outcome.index == index && outcome.data == data && outcome.newData.empty());
        EXPECT_FALSE(outcome.shown.has_value());
        ClearStoreFault();
        ExpectStoreFree();
        Fresh();
    }
}

TEST_F(StoreLockTest, OnAFileSystemWithoutLocksEveryOperationWorksAsAlone)
{
    for (const OperationRow& op : kOperations) {
        SCOPED_TRACE(op.name);
        Outcome alone = Alone(op.operation);
        LayOut();
        SetStoreFault(StoreFault::NoLocking, kIndexFileName);
        RecordingHost host(directory, 1);
        Outcome outcome = Run(op.operation, host);
        EXPECT_EQ(host.waits, 0);
        EXPECT_TRUE(outcome == alone) << "the store or what the user saw differs from the operation alone";
        Fresh();
    }
}

TEST_F(StoreLockTest, WithoutAnIndexFileOnlyASaveMakesOne)
{
    for (const OperationRow& op : kOperations) {
        SCOPED_TRACE(op.name);
        Write("pagorex.2", BitmapFile(PackedDib(8, 8, 1)));
        RecordingHost host(directory, 1);
        Outcome outcome = Run(op.operation, host);
        EXPECT_TRUE(outcome.answer) << "nothing to store counts as stored, except a save that failed";
        EXPECT_EQ(Exists("pagorex.idx"), op.operation == Operation::Save);
        if (op.operation == Operation::Save) {
            ASSERT_EQ(Records().size(), 1u);
            EXPECT_EQ(Gunzip(Read("pagorex.dat")), BitmapFile(PackedDib(8, 8, 1)));
        }
        Fresh();
    }
}

// The shell's side: the save command holds the store from the second work file to the
// record, shows the wait in the title of a window not yet shown, and lets a close give up.
class ShellWaitTest : public StoreLockTest {
protected:
    static VOID CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        ShellWaitTest* test = running;
        test->titles.push_back(WindowText(test->window));
        test->visible = test->visible || IsWindowVisible(test->window);
        test->workFileWhileWaiting = test->workFileWhileWaiting || test->Exists("pagorex.2");
        if (++test->ticks == 2)
            test->atSecondTick();
    }
    static std::string WindowText(HWND window)
    {
        char text[128] = "";
        GetWindowTextA(window, text, sizeof text);
        return text;
    }
    // Runs the save command while the other program writes, until atSecondTick.
    bool SaveWhileHeld(OtherProgram& other)
    {
        DeleteFileA(Path("pagorex.2").c_str());
        running = this;
        TakeHold(other, Hold::Writing);
        SetWindowTextA(window, "before");
        ShowWindow(window, SW_HIDE);
        UINT_PTR timer = SetTimer(nullptr, 0, 30, Tick);
        bool stored = SaveCommand(window);
        KillTimer(nullptr, timer);
        return stored;
    }
    static ShellWaitTest* running;
    std::function<void()> atSecondTick;
    std::vector<std::string> titles;
    bool visible = false;
    bool workFileWhileWaiting = false;
    int ticks = 0;
};
ShellWaitTest* ShellWaitTest::running = nullptr;

TEST_F(ShellWaitTest, TheSaveCommandShowsTheWaitAndStoresOnceTheStoreIsFree)
{
    LayOut();
    OtherProgram other(Path("pagorex.idx"));
    Bytes image = PackedDib(17, 9, 4);
    currentDib = DibFromBytes(image);
    atSecondTick = [&other] { other.Release(); };
    ASSERT_TRUE(SaveWhileHeld(other));
    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(titles[0], kStoreInUseText);
    EXPECT_TRUE(visible) << "a hidden window is shown while it waits";
    EXPECT_EQ(WindowText(window), "before");
    EXPECT_FALSE(workFileWhileWaiting) << "the second work file was written while the store was another's";
    ReleaseCurrentImage();
    LoadRecordImage(Shell());
    EXPECT_EQ(BytesOfDib(currentDib), image);
    EXPECT_FALSE(Exists("pagorex.2"));
    ExpectStoreFree();
}

TEST_F(ShellWaitTest, AWindowClosedWhileTheSaveCommandWaitsStoresNothingAndSaysSo)
{
    LayOut();
    Bytes index = Read("pagorex.idx"), data = Read("pagorex.dat");
    OtherProgram other(Path("pagorex.idx"));
    currentDib = DibFromBytes(PackedDib(17, 9, 4));
    atSecondTick = [this] { EXPECT_TRUE(DeferCloseWhileHeld(window)); };
    std::vector<std::string> texts;
    bool stored = true;
    {
        boxes::BoxWatcher watcher;
        stored = SaveWhileHeld(other);
        for (const boxes::SeenBox& box : watcher.Seen())
            texts.push_back("(program): " + box.text);
    }
    EXPECT_FALSE(stored);
    EXPECT_EQ(texts, std::vector<std::string>{kNotStoredWhileWaiting});
    EXPECT_EQ(Read("pagorex.idx"), index);
    EXPECT_EQ(Read("pagorex.dat"), data);
    EXPECT_FALSE(workFileWhileWaiting) << "the second work file was written while the store was another's";
    EXPECT_FALSE(Exists("pagorex.2"));
    // The close goes on once the work has ended; here it only has to be taken off the queue.
    EXPECT_TRUE(StoreWaitGivenUp());
    ReleaseHeldCommands(window);
    MSG posted;
    EXPECT_TRUE(PeekMessageA(&posted, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_FALSE(StoreWaitGivenUp());
    other.Release();
    ExpectStoreFree();
}
}  // namespace

namespace {
// What another program's compaction does under a running program: the records it loaded
// at its start now point elsewhere, into a shorter data file. Every later operation finds
// its record again under the lock and uses nothing it read before.
TEST_F(StoreLockTest, AfterAnotherProgramsCompactionNothingReadBeforeIsUsed)
{
    struct Row {
        const char* name;
        bool save;  // else a delete mark
    };
    for (Row row : {Row{"save", true}, Row{"delete mark", false}}) {
        SCOPED_TRACE(row.name);
        LayOut();
        RecordingHost host(directory, 1);
        LoadRecordImage(host);
        ASSERT_TRUE(host.shown.has_value() && !host.shown->empty());
        // The other program's compaction: record 2's blob first, then record 1's, in a
        // new data file without the stale bytes.
        std::vector<IndexRecord> records = Records();
        Bytes data = Read("pagorex.dat");
        auto blob = [&data](const IndexRecord& r) {
            return Bytes(data.begin() + r.dataOffset, data.begin() + r.dataOffset + r.storedLength);
        };
        Bytes two = Gzip(blob(records[1])), one = blob(records[0]);
        records[1].dataOffset = 0;
        records[1].storedLength = static_cast<uint32_t>(two.size());
        records[1].imageLength = static_cast<uint32_t>(blob(Records()[1]).size());
        records[1].compressed = 1;
        records[0].dataOffset = static_cast<uint32_t>(two.size());
        Write("pagorex.dat", Concat({two, one}));
        Write("pagorex.idx", Concat({RecordBytes(records[0]), RecordBytes(records[1])}));
        Bytes compacted = Read("pagorex.dat");
        Write("pagorex.2", BitmapFile(PackedDib(40, 24, 5)));  // the load used it as its own

        bool stored = row.save ? SaveRecordImage(host) : MarkRecordDeleted(host);
        EXPECT_TRUE(stored);
        std::vector<IndexRecord> after = Records();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_EQ(RecordBytes(after[1]), RecordBytes(records[1])) << "the other record was changed";
        Bytes now = Read("pagorex.dat");
        ASSERT_GE(now.size(), compacted.size());
        EXPECT_TRUE(std::equal(compacted.begin(), compacted.end(), now.begin())) << "compacted blobs were changed";
        if (row.save) {
            EXPECT_EQ(uint32_t{after[0].dataOffset}, compacted.size()) << "not appended to the data file as it is";
            EXPECT_EQ(Gunzip(Bytes(now.begin() + after[0].dataOffset, now.end())),
                      BitmapFile(PackedDib(40, 24, 5)));
        } else {
            IndexRecord marked = records[0];
            marked.deleted = 1;
            EXPECT_EQ(RecordBytes(after[0]), RecordBytes(marked)) << "the mark did not keep the moved blob";
        }
        Fresh();
    }
}
}  // namespace
