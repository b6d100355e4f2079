// pagorex-store: the command line, and the store opening and messages its commands share.
#include "tool_command.h"

#include "pagorex_version.h"
#include "store/core/store_names.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

namespace {
constexpr char kGeneralHelp[] =
    "usage: pagorex-store COMMAND DIR [options]\n"
    "\n"
    "Looks into the Pagorex image store in DIR (pagorex.idx, pagorex.dat, pagorex.new)\n"
    "without changing it. It opens the files read-only and shares them, so it may run while\n"
    "the program is open. While it reads it holds the store's lock shared, as the program's\n"
    "loads do: a save or compaction in progress is waited for (at most --wait SECONDS, 60 by\n"
    "default), and waits in turn until the tool is done. --no-lock reads the store as it is,\n"
    "without the lock (a save in progress may then show as damage).\n"
    "\n"
    "commands:\n"
    "  list DIR [--json]            one line per index record\n"
    "  verify DIR [--json]          checks every record; exit 0 sound, 1 problems, 2 unreadable\n"
    "  stats DIR [--json]           records, live and stale bytes, plain records, largest image\n"
    "  export DIR RECORD FILE       writes the record's image exactly as stored, or with\n"
    "                               --format png or pdf as a PNG image or a PDF page (a PDF\n"
    "                               for archives, PDF/A-2b; --plain-pdf: a plain one); every\n"
    "                               page of a document of several pages (--page K: one)\n"
    "  export DIR --all OUTDIR      writes every live record's image as OUTDIR/RECORD.bmp\n"
    "  export DIR RECORD... --into FILE.pdf   the records' pages as the pages of one PDF\n"
    "\n"
    "'pagorex-store COMMAND --help' tells more about a command; 'pagorex-store --version'\n"
    "names the version.\n";

bool OpenOne(const std::string& dir, const char* name, std::unique_ptr<platform::ReadOnlyFile>& file, FILE* err)
{
    std::string error, path = platform::Join(dir, name);
    if (platform::OpenReadOnly(path, file, error) == platform::OpenResult::Failed) {
        std::fprintf(err, "pagorex-store: cannot open %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// Takes the store's lock shared, waiting a bounded while for a program that writes it.
bool LockStore(const Invocation& call, OpenedStore& store)
{
    std::string path = platform::Join(store.dir, kIndexFileName), error;
    constexpr unsigned kPollMs = 100;
    for (unsigned waited = 0;; waited += kPollMs) {
        platform::LockResult result = platform::TryLockStore(path, store.lock, error);
        if (result == platform::LockResult::Held)
            return true;
        if (result == platform::LockResult::Failed) {
            std::fprintf(call.err, "pagorex-store: cannot lock %s against the programs that use it: %s (--no-lock "
                         "reads the store without the lock)\n", path.c_str(), error.c_str());
            return false;
        }
        if (waited == 0)
            std::fprintf(call.err, "pagorex-store: waiting for the program that is saving into or compacting the "
                         "store in %s...\n", store.dir.c_str());
        if (waited >= call.waitSeconds * 1000u) {
            std::fprintf(call.err, "pagorex-store: gave up after %u s: a program is still writing the store in %s; "
                         "try again later, or read it as it is with --no-lock\n", call.waitSeconds,
                         store.dir.c_str());
            return false;
        }
        platform::Sleep(kPollMs);
    }
}
}  // namespace

int Usage(const Invocation& call, const std::string& what)
{
    std::fprintf(call.err, "pagorex-store: %s\nTry 'pagorex-store %s--help'.\n", what.c_str(),
                 call.command ? (std::string(call.command->name) + " ").c_str() : "");
    return kToolCannotRead;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Number(uint64_t value)
{
    return std::to_string(value);
}

bool OpenStore(const Invocation& call, const std::string& dir, OpenedStore& store)
{
    FILE* err = call.err;
    store.dir = dir;
    if (!platform::IsDirectory(dir)) {
        std::fprintf(err, "pagorex-store: %s: no such directory\n", dir.c_str());
        return false;
    }
    if (call.lock && !LockStore(call, store))
        return false;
    if (!OpenOne(dir, kIndexFileName, store.index, err) || !OpenOne(dir, kDataFileName, store.data, err) ||
        !OpenOne(dir, kNewDataFileName, store.newData, err))
        return false;
    if (!store.index) {
        std::fprintf(err, "pagorex-store: %s: no image store here (%s is missing)\n", dir.c_str(), kIndexFileName);
        return false;
    }
    return true;
}

bool OpenStoreOperand(const Invocation& call, OpenedStore& store, int& code)
{
    if (call.operands.size() != 1 || call.all) {
        code = Usage(call, call.operands.empty() ? "which store? DIR is missing" : "too many operands");
        return false;
    }
    code = kToolCannotRead;
    return OpenStore(call, call.operands[0], store);
}

void ReportIndexReadError(const OpenedStore& store, FILE* err)
{
    std::fprintf(err, "pagorex-store: cannot read %s to its end (a read failed, or the file shrank meanwhile)\n",
                 platform::Join(store.dir, kIndexFileName).c_str());
}

void WarnFragment(const OpenedStore& store, const SurveySummary& summary, FILE* err)
{
    if (summary.indexFragment > 0)
        std::fprintf(err, "pagorex-store: warning: %s ends in %u bytes that are no whole record (cut short?)\n",
                     platform::Join(store.dir, kIndexFileName).c_str(), summary.indexFragment);
}

namespace {
constexpr Command kCommands[] = {
    {"list", kListHelp, List},
    {"verify", kVerifyHelp, Verify},
    {"stats", kStatsHelp, Stats},
    {"export", kExportHelp, Export},
};

// A whole number from least to most, written in decimal digits alone.
bool ParseNumber(const char* text, unsigned long long least, unsigned long long most, uint32_t& number)
{
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (!std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || errno != 0 || value < least ||
        value > most)
        return false;
    number = static_cast<uint32_t>(value);
    return true;
}

// A command that runs out of memory (a long index listed, a large page) or cannot start a
// thread ends with a reason and exit code 2 rather than an abort that says nothing.
int RunCaught(Invocation& call)
{
    try {
        return call.command->run(call);
    } catch (const std::bad_alloc&) {
        std::fflush(call.out);
        std::fprintf(call.err, "pagorex-store: %s stopped: not enough memory\n", call.command->name);
    } catch (const std::exception& e) {
        std::fflush(call.out);
        std::fprintf(call.err, "pagorex-store: %s stopped: %s\n", call.command->name, e.what());
    }
    return kToolCannotRead;
}
// The options and operands after the command; kToolOk, or the exit code with the mistake
// said.
int ParseOptions(int argc, char** argv, Invocation& call, bool& help)
{
    const bool exporting = call.command->run == Export;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            help = true;
        else if (arg == "--json" && !exporting)
            call.json = true;
        else if (arg == "--all" && exporting)
            call.all = true;
        else if (arg == "--force" && exporting)
            call.force = true;
        else if (arg == "--plain-pdf" && exporting)
            call.plainPdf = true;
        else if ((arg == "--format" || arg == "--into") && exporting && i + 1 < argc)
            (arg == "--format" ? call.format : call.into) = argv[++i];
        else if ((arg == "--format" || arg == "--into") && exporting)
            return Usage(call, arg + (arg == "--format" ? " takes bmp, png or pdf" : " takes FILE.pdf"));
        else if (arg == "--page" && exporting && i + 1 < argc && ParseNumber(argv[i + 1], 1, 0xFFFFFFFFu, call.page))
            ++i;
        else if (arg == "--page" && exporting)
            return Usage(call, "--page takes a page number: 1, 2, ...");
        else if (arg == "--no-lock")
            call.lock = false;
        else if (arg == "--wait" && i + 1 < argc && ParseNumber(argv[i + 1], 0, 86400, call.waitSeconds))
            ++i;
        else if (arg == "--wait")
            return Usage(call, "--wait takes a number of seconds");
        else if (arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1])))
            return Usage(call, "unknown option '" + arg + "'");
        else
            call.operands.push_back(arg);
    }
    return kToolOk;
}
}  // namespace

int RunStoreTool(int argc, char** argv, FILE* out, FILE* err)
{
    Invocation call;
    call.out = out;
    call.err = err;
    call.command = nullptr;
    std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h" || first == "help") {
        std::fputs(kGeneralHelp, out);
        return kToolOk;
    }
    if (first == "--version") {
        std::fputs("pagorex-store " PAGOREX_VERSION "\n", out);
        return kToolOk;
    }
    for (const Command& command : kCommands)
        if (first == command.name)
            call.command = &command;
    if (!call.command)
        return Usage(call, first.empty() ? "which command?" : "unknown command '" + first + "'");
    bool help = false;
    if (int code = ParseOptions(argc, argv, call, help); code != kToolOk)
        return code;
    if (help) {
        std::fputs(call.command->help, out);
        return kToolOk;
    }
    int code = RunCaught(call);
    std::fflush(out);
    return code;
}

