// Runs every registered benchmark and prints one table of ratios.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench.h"
#include "bench/host_tools.h"

namespace bench {

namespace {
std::vector<std::pair<Measure, std::string>>& Registered()
{
    static std::vector<std::pair<Measure, std::string>> measures;
    return measures;
}

std::vector<std::string>& Notes()
{
    static std::vector<std::string> notes;
    return notes;
}

std::vector<std::pair<std::string, Child>>& Children()
{
    static std::vector<std::pair<std::string, Child>> children;
    return children;
}
}  // namespace

bool Register(Measure measure, const char* name)
{
    Registered().emplace_back(measure, name);
    return true;
}

void Note(const std::string& text)
{
    Notes().push_back(text);
}

bool RegisterChild(const char* flag, Child child)
{
    Children().emplace_back(flag, child);
    return true;
}

Timing BestOf(const std::function<void()>& fn, const std::function<void()>& reference, int runs)
{
    Timing best{1e30, 1e30};
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        reference();
        best.referenceSeconds = std::min(best.referenceSeconds, Now() - start);
        start = Now();
        fn();
        best.seconds = std::min(best.seconds, Now() - start);
    }
    return best;
}

}  // namespace bench

int main(int argc, char** argv)
{
    for (const auto& [flag, child] : bench::Children())
        if (argc > 1 && flag == argv[1])
            return child(argc, argv);
    std::printf("%-44s %10s  %-28s %10s  %6s  %5s\n", "benchmark", "ms", "reference (same run)", "ms", "ratio",
                "goal");
    int over = 0;
    const char* only = std::getenv("PAGOREX_BENCH_ONLY");
    for (const auto& [measure, name] : bench::Registered()) {
        if (only && (name.empty() || std::string(only).find(name) == std::string::npos))
            continue;
        for (const bench::Row& row : measure()) {
            const double ratio = row.seconds / row.referenceSeconds;
            const bool within = row.goal <= 0 || ratio <= row.goal;
            over += !within;
            char goal[16] = "    -";
            if (row.goal > 0)
                std::snprintf(goal, sizeof goal, row.bytes ? "%5.3f" : "%5.2f", row.goal);
            // Sizes in MB, with a ratio fine enough to tell per mille apart.
            const double scale = row.bytes ? 1.0 / (1024 * 1024) : 1e3;
            const char* fast = row.fastPath == bench::FastPath::none  ? ""
                               : row.fastPath == bench::FastPath::yes ? "  fast path: yes"
                                                                      : "  fast path: no";
            std::printf(row.bytes ? "%-44s %7.2f MB  %-28s %7.2f MB  %6.4f  %s%s%s\n"
                                  : "%-44s %10.2f  %-28s %10.2f  %6.2f  %s%s%s\n",
                        row.name.c_str(), row.seconds * scale, row.reference.c_str(), row.referenceSeconds * scale, ratio,
                        goal, within ? "" : "  over the goal", fast);
        }
    }
    for (const std::string& note : bench::Notes())
        std::printf("  %s\n", note.c_str());
    std::fflush(stdout);
    // A benchmark informs; it fails nothing (shared machines are noisy).
    std::printf("%d of the rows over their goal\n", over);
    return 0;
}
