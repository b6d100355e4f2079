// Random stores, compacted whole or stopped at a random point and then settled: every
// record yields the image it yielded before. A fixed seed keeps the run repeatable; the
// soak program runs the same with other seeds for longer.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"

#include <cstdlib>

namespace {
StoreStep randomStep;
uint32_t randomRecord;
bool StopAtRandomPoint(StoreStep step, uint32_t record)
{
    return step == randomStep && record == randomRecord;
}

// The images the records yield before anything runs, read as a load would read them.
std::vector<Bytes> ImagesNow(const LaidOut& store)
{
    std::vector<Bytes> images;
    for (const IndexRecord& record : store.records)
        images.push_back(ImageFrom(record, store.data));
    return images;
}

// The soak target (make soak-compact) asks for more stores and other seeds.
unsigned StoresToRun()
{
    const char* count = std::getenv("PAGOREX_SOAK_STORES");
    return count ? static_cast<unsigned>(std::atoi(count)) : 30;
}

unsigned FirstSeed()
{
    const char* seed = std::getenv("PAGOREX_SOAK_SEED");
    return seed ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10)) : 20261208;
}

TEST_F(CompactTest, RandomStoresYieldTheSameImagesAfterCompaction)
{
    unsigned seed = FirstSeed();
    for (unsigned run = 0; run < StoresToRun(); ++run) {
        std::mt19937 random(seed + run);
        SCOPED_TRACE(testing::Message() << "seed " << seed + run);
        DeleteFileA(Path("pagorex.new").c_str());
        size_t count = random() % 14;
        std::vector<Entry> entries = RandomEntries(random, count);
        LaidOut store = Store(entries, RandomOrder(random, count));
        std::vector<Bytes> images = ImagesNow(store);
        if (count > 0 && random() % 2) {
            // Stopped somewhere first, then settled one way or the other.
            randomStep = static_cast<StoreStep>(random() % 4);
            randomRecord = static_cast<uint32_t>(random() % count);
            SetStoreStopHook(StopAtRandomPoint);
            CompactStore(Shell(), 1);
            SetStoreStopHook(nullptr);
            ExpectEveryImage(images);
            if (random() % 2) {
                boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
                RecoverFromNewData(Shell());
                ExpectEveryImage(images);
            }
        }
        CompactStore(Shell(), 1);
        ExpectSettled(images);
        uint32_t end = 0;
        for (const IndexRecord& record : Records()) {
            EXPECT_EQ(record.compressed, 1);
            EXPECT_EQ(record.dataOffset, end);
            end += record.storedLength;
        }
        EXPECT_EQ(Read("pagorex.dat").size(), end);
        if (HasFailure())
            return;
    }
}
}  // namespace
