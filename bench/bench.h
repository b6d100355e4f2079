#pragma once
// Benchmarks of the program's hot paths. Each row times an operation against a reference
// measured in the same run (memcpy, gzip, a plain read) and is judged by the ratio, since
// the machines it runs on are shared and noisy; both sides are the best of three runs.
// A benchmark file registers a function that measures its rows; `make bench` prints them
// all in one table.

#include <functional>
#include <string>
#include <vector>

namespace bench {

// Rows whose work has a fast form (SSSE3) beside a plain one say which of them ran.
enum class FastPath { none, no, yes };

struct Row {
    std::string name;         // what was measured
    double seconds = 0;       // best of three
    std::string reference;    // what it is compared with
    double referenceSeconds = 0;
    double goal = 0;          // the ratio it should stay within; 0: shown for comparison only
    bool bytes = false;       // seconds and referenceSeconds hold sizes in bytes
    FastPath fastPath = FastPath::none;
};

using Measure = std::vector<Row> (*)();

// Called from a static object of each benchmark file. With PAGOREX_BENCH_ONLY set, only the
// measures whose name it contains run (a quick look at one part while working on it).
bool Register(Measure measure, const char* name = "");

// A line printed under the table (sizes, memory, what was skipped).
void Note(const std::string& text);

// A benchmark that needs a process of its own starts the benchmark program again with
// flag as its first argument; main then runs child instead of the table.
using Child = int (*)(int argc, char** argv);
bool RegisterChild(const char* flag, Child child);

// Times fn and its reference in turn, `runs` rounds, and keeps the best of each, so
// that both meet the same moments of a busy machine. Seconds.
struct Timing {
    double seconds;
    double referenceSeconds;
};
Timing BestOf(const std::function<void()>& fn, const std::function<void()>& reference, int runs = 3);

}  // namespace bench
