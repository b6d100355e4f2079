// Starts the Linux build of pagorex-store (its path comes from the build), and other Linux
// programs for the tests.
#include "tool_test.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {
std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

ToolRun RunTool(const std::vector<std::string>& args)
{
    return RunCommand({PAGOREX_PROGRAM}, args);
}

ToolRun RunCommand(const std::vector<std::string>& command, const std::vector<std::string>& args)
{
    std::string base = (std::filesystem::temp_directory_path() / ("pgx-tool-run-" + std::to_string(getpid()))).string();
    std::string outPath = base + ".out", errPath = base + ".err";
    std::vector<char*> argv;
    std::vector<std::string> copies = command;
    copies.insert(copies.end(), args.begin(), args.end());
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ToolRun run;
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage = {};
        wait4(pid, &status, 0, &usage);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.maxRssKb = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = Slurp(outPath);
    run.err = Slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return run;
}
