#pragma once
// What the commands of pagorex-store share: the parsed command line, the store opened
// read-only under its lock, and the messages every command gives alike. Each command
// lives in a file of its own (survey_commands.cpp, export_command.cpp).

#include "platform.h"
#include "store/core/store_survey.h"
#include "store_tool.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct Invocation;

struct Command {
    const char* name;
    const char* help;
    int (*run)(const Invocation& call);
};

struct Invocation {
    std::vector<std::string> operands;
    bool json = false;
    bool all = false;
    bool lock = true;
    uint32_t waitSeconds = 60;
    // export
    std::string format;  // as given; empty: the default
    std::string into;    // --into FILE.pdf
    uint32_t page = 0;   // --page K; 0: every page
    bool force = false;
    bool plainPdf = false;  // --plain-pdf
    FILE* out;
    FILE* err;
    const Command* command;
};

// The store's files, opened read-only under the store's lock.
struct OpenedStore {
    std::string dir;
    std::unique_ptr<platform::StoreLockHold> lock;  // declared first: let go of last
    std::unique_ptr<platform::ReadOnlyFile> index, data, newData;
    StoreReaders Readers() const { return {index.get(), data.get(), newData.get()}; }
};

// Says what is wrong with the command line and where help is; answers kToolCannotRead.
int Usage(const Invocation& call, const std::string& what);
// text as a JSON string.
std::string Quoted(const std::string& text);
std::string Number(uint64_t value);

bool OpenStore(const Invocation& call, const std::string& dir, OpenedStore& store);
// The one operand DIR of list, verify and stats, opened; false with the exit code when
// it cannot be.
bool OpenStoreOperand(const Invocation& call, OpenedStore& store, int& code);
void ReportIndexReadError(const OpenedStore& store, FILE* err);
void WarnFragment(const OpenedStore& store, const SurveySummary& summary, FILE* err);

// The commands and their help texts.
int List(const Invocation& call);
int Verify(const Invocation& call);
int Stats(const Invocation& call);
int Export(const Invocation& call);
extern const char kListHelp[], kVerifyHelp[], kStatsHelp[], kExportHelp[];
