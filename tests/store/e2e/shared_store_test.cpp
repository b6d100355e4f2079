// Several real programs on one store, as workstations on a shared folder run them: each
// acquires distinct pages from the virtual scanner (a profile of its own, a page size of
// its own per save) and saves them many times, some for the same record, while another
// program compacts the store in the middle. Afterwards every record holds the last image
// saved for it, exactly once, every blob decodes byte for byte, and no save that told
// the user nothing is missing. The test itself takes the store's lock like any other
// program to read it mid-run, and to hold the store while programs must wait.
#include "shared_store.h"

namespace sharedstore {
namespace {

TEST_F(SharedStoreTest, ProgramsSavingAtOnceWithCompactionsBetweenLoseNothing)
{
    const int seeds = EnvInt("PAGOREX_SHARED_SEEDS", 3);
    const int firstSeed = EnvInt("PAGOREX_SHARED_SEED", 1);
    const int saves = EnvInt("PAGOREX_SHARED_SAVES", 5);
    const int n = saves;
    const Interleaving cases[] = {
        {"four programs, four new records, a compaction in the middle", {1001, 1002, 1003, 1004}, {2 * n}, false},
        {"two pairs on two records, two compactions", {1001, 1002, 1001, 1002}, {n, 3 * n}, false},
        {"three on one new record, one on a record of before", {1001, 1001, 1001, 3}, {n + 1}, false},
        {"all piled up behind another program, then a compaction", {1001, 1002, 1003, 4}, {2 * n + 1}, true},
        {"a 32-bit and a 64-bit program on each of two records", {1001, 1001, 1002, 1002}, {2 * n}, false, true},
    };
    int programs = 0, saved = 0, waited = 0, compactions = 0, lost = 0;
    std::atomic<int> toolRuns{0};
    for (const Interleaving& c : cases) {
        if (c.otherWidth && OtherWidthBin().empty()) {
            std::printf("left out, not passed: \"%s\" (only this width's programs run on this machine)\n", c.name);
            continue;
        }
        for (int seed = firstSeed; seed < firstSeed + seeds; ++seed) {
            SCOPED_TRACE(testing::Message() << c.name << ", seed " << seed);
            Fresh();
            LayStore(8, static_cast<unsigned>(seed));
            StartPrograms(c, seed);
            if (HasFatalFailure())
                return;
            std::vector<std::thread> threads;
            for (auto& saver : savers_)
                threads.emplace_back([this, &saver, saves, seed] { RunSaver(*saver, saves, static_cast<unsigned>(seed)); });
            // The store tool looks in all the while, as support staff might: under the
            // store's lock it never sees a save or a compaction half done.
            std::atomic<bool> looking{true};
            std::string seenDamage;
            std::thread looker([&] {
                std::string out = driver::MakeTempDirectory("pgx-export");
                for (int i = 0; looking; ++i, ++toolRuns) {
                    ToolRun run =
                        i % 2 ? RunTool({"export", dir_, "--all", out, "--force"}) : RunTool({"verify", dir_});
                    if (run.exitCode != 0 && seenDamage.empty())
                        seenDamage = run.out + run.err;
                }
            });
            Conduct(c, saves * static_cast<int>(savers_.size()));
            for (std::thread& thread : threads)
                thread.join();
            looking = false;
            looker.join();
            EXPECT_EQ(seenDamage, "") << "pagorex-store reported damage while programs saved and compacted";
            for (auto& saver : savers_) {
                EXPECT_EQ(saver->problem, "") << "the program for record " << saver->record;
                EXPECT_EQ(saver->saves.size(), static_cast<size_t>(saves));
                saved += static_cast<int>(saver->saves.size());
                waited += saver->waitsSeen;
            }
            CloseAll();
            StoreState state = ReadStore();
            ExpectSound(state, "at the end");
            ExpectLastPages(state, lost);
            EXPECT_EQ(compactions_, static_cast<int>(c.compactAt.size()));
            EXPECT_EQ(pileUps_, c.pileUp ? 1 : 0);
            programs += static_cast<int>(savers_.size()) + 1;
            compactions += compactions_;
            pileUps_ = 0;
            if (HasFatalFailure())
                return;
        }
    }
    std::printf("programs: %d (savers and compactors), saves: %d (%d of them waited for the store), forced "
                "compactions: %d, images lost: %d, store tool runs beside them: %d\n",
                programs, saved, waited, compactions, lost, toolRuns.load());
}

}  // namespace
}  // namespace sharedstore
