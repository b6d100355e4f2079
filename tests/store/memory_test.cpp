// Memory that runs out in the middle of a save, a compaction or a store check: whichever
// allocation fails, on whichever thread, the program goes on, the user is told, and every
// stored image is still there.
#include "store/compaction.h"
#include "store/core/store_survey.h"
#include "store/store.h"
#include "store_support.h"
#include "support/failing_new.h"
#include "support/store_files.h"

#include <climits>
#include <optional>
#include <tuple>

namespace {
// Keeps what it is told outside the counted allocations.
struct TellingHost final : StoreHost {
    explicit TellingHost(const std::string& in) : directory(in) {}
    const char* StoreDirectory() override { return directory.c_str(); }
    int32_t RecordNumber() override { return 1; }
    void SetProgressText(const char*) override {}
    void KeepAlive() override {}
    void ShowImage(ImageFileSource*) override {}
    int Message(const char* text, const char*, unsigned) override
    {
        failing_new::Exempt exempt;
        told.emplace_back(text);
        return IDOK;
    }
    const std::string& directory;  // the fixture's, set once it is made
    std::vector<std::string> told;
};

uint32_t Shade(int x, int y)
{
    return uint32_t((x * 7 + y * 3) & 0xFF) * 0x010101u ^ uint32_t(x * y) % 5;
}

// Runs operation once to count its allocations, then again with the n-th failing, for
// every n of a short run and a sample of a long one; check sees what each run left.
// Answers how many runs the failure reached.
int EveryAllocationFailing(const std::function<void()>& prepare, const std::function<void()>& operation,
                           const std::function<void(long n)>& check,
                           failing_new::Failure how = failing_new::Failure::kOutOfMemory)
{
    prepare();
    failing_new::FailAt(LONG_MAX);
    operation();
    const long total = failing_new::Counted();
    int reached = 0;
    for (long n = 1, step = std::max(1L, total / 60); n <= total; n += step) {
        prepare();
        failing_new::FailAt(n, how);
        try {
            operation();
        } catch (const std::bad_alloc&) {
            ADD_FAILURE() << "std::bad_alloc escaped, allocation " << n << " of " << total << " failing";
        }
        reached += failing_new::Failed();
        failing_new::FailAt(0);
        check(n);
    }
    return reached;
}

class MemoryTest : public StoreDirectory {
protected:
    void Clear()
    {
        for (const char* name : {"pagorex.idx", "pagorex.dat", "pagorex.new", "pagorex.tmp", "pagorex.2"})
            DeleteFileA(Path(name).c_str());
        host.told.clear();
    }
    Bytes Loaded(int32_t record)
    {
        RecordingHost reader(directory, record);
        LoadRecordImage(reader);
        return reader.shown.value_or(Bytes{});
    }
    TellingHost host{directory};
};

// Memory that runs out anywhere, and a compression task that fails otherwise (only the
// workers' allocations fail then): the block fails, and the save says so instead of
// waiting for it for ever. A document keeps all its old pages or has all its new ones.
TEST_F(MemoryTest, ASaveThatRunsOutOfMemoryOrWhoseTaskFailsKeepsTheStoredImageAndSaysSo)
{
    const std::vector<Bytes> saves[][2] = {
        {{storefiles::Bitmap24(40, 30, Shade)}, {storefiles::Bitmap24(400, 500, Shade)}},
        {{storefiles::Bitmap24(40, 30, Shade), storefiles::Bitmap24(50, 20, Shade)},
         {storefiles::Bitmap24(400, 500, Shade), storefiles::Bitmap24(60, 40, Shade),
          storefiles::Bitmap24(200, 300, Shade)}}};
    for (const auto& [before, after] : saves)
    for (auto [how, why, least] : {std::tuple{failing_new::Failure::kOutOfMemory, "not enough memory", 10},
                                   std::tuple{failing_new::Failure::kFault, "compressing it failed", 1}}) {
        SCOPED_TRACE(why + std::string(", pages: ") + std::to_string(after.size()));
        bool stored = false;
        auto prepare = [&] {
            Clear();
            ASSERT_TRUE(SavePages(host, before));
            host.told.clear();
        };
        auto save = [&] {
            std::optional<failing_new::Exempt> caller;
            if (how == failing_new::Failure::kFault)
                caller.emplace();
            stored = after.size() > 1 ? SavePages(host, after) : SaveImageFile(host, after[0]);
        };
        auto check = [&](long n) {
            EXPECT_EQ(LoadPages(directory, 1), stored ? after : before) << n;
            EXPECT_EQ(host.told.size(), stored ? 0u : 1u) << n;
            for (const std::string& text : host.told)
                EXPECT_EQ(text.rfind("The image was not stored", 0), 0u) << text;
            if (how == failing_new::Failure::kFault && !stored) {
                EXPECT_NE(host.told.at(0).find(why), std::string::npos) << host.told.at(0);
            }
        };
        EXPECT_GE(EveryAllocationFailing(prepare, save, check, how), least);
    }
}

TEST_F(MemoryTest, ACompactionThatRunsOutOfMemoryStopsWithEveryImageInPlace)
{
    std::vector<Bytes> images;
    for (int i = 0; i < 4; ++i)
        images.push_back(storefiles::Bitmap24(200 + 40 * i, 300, Shade));
    auto prepare = [&] {
        Clear();
        storefiles::StoreLayout store;
        for (size_t i = 0; i < images.size(); ++i)
            store.Add(int32_t(10 + i), images[i], i % 2 == 1);
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
    };
    auto check = [&](long n) {
        for (size_t i = 0; i < images.size(); ++i)
            EXPECT_EQ(Loaded(int32_t(10 + i)), images[i]) << "record " << i << ", allocation " << n;
        for (const std::string& text : host.told)
            EXPECT_NE(text.find("nothing was lost"), std::string::npos) << text;
    };
    EXPECT_GT(EveryAllocationFailing(prepare, [&] { CompactStore(host, 1); }, check), 10);
}

// A check that cannot get its memory names its record unchecked; memory that runs out
// on the calling thread reaches the caller as std::bad_alloc.
TEST(MemoryCheck, AStoreCheckThatRunsOutOfMemoryReportsTheRecordsItCouldNotCheck)
{
    storefiles::StoreLayout store;
    for (int32_t number = 1; number <= 40; ++number)
        store.Add(number, storefiles::Bitmap24(64 + number, 64, Shade));
    MemoryReader index(store.index), data(store.data);
    struct Seen final : SurveyVisitor {
        void Record(const SurveyedRecord& r) override { failing_new::Exempt exempt; records.push_back(r); }
        std::vector<SurveyedRecord> records;
        bool threw = false;
    } seen;
    int unchecked = 0;
    auto survey = [&] {
        try {
            SurveyStore({&index, &data, nullptr}, SurveyDepth::Full, &seen, 4);
        } catch (const std::bad_alloc&) {
            seen.threw = true;
        }
    };
    auto check = [&](long n) {
        ASSERT_TRUE(seen.threw || seen.records.size() == 40u) << n;
        for (uint32_t i = 0; i < seen.records.size() && !seen.threw; ++i) {
            BlobProblem problem = seen.records[i].blob.problem;
            EXPECT_EQ(seen.records[i].position, i);
            EXPECT_TRUE(problem == BlobProblem::None || problem == BlobProblem::Unchecked) << i;
            unchecked += problem == BlobProblem::Unchecked;
        }
    };
    EveryAllocationFailing([&] { seen.records.clear(), seen.threw = false; }, survey, check);
    EXPECT_GT(unchecked, 0) << "no check ran out of memory on a worker";
}
}  // namespace
