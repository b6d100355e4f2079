// Starts build/bin/pagorex-store.exe beside the test program.
#include "tool_test.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace {
std::string Directory()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/") + 1);
}

HANDLE Inheritable(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string bytes = text.str(), lines;
    for (char c : bytes)
        if (c != '\r')
            lines += c;
    return lines;
}
}  // namespace

ToolRun RunTool(const std::vector<std::string>& args)
{
    std::string exe = Directory() + "pagorex-store.exe";
    std::string commandLine = "\"" + exe + "\"";
    for (const std::string& arg : args)
        commandLine += arg.empty() || arg.find(' ') != std::string::npos ? " \"" + arg + "\"" : " " + arg;
    // A name of its own for every run: a file of the last run may still be on its way out.
    static int runs = 0;
    std::string base = (std::filesystem::temp_directory_path() /
                        ("pgx-tool-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs)))
                           .string();
    std::string outPath = base + ".out", errPath = base + ".err";
    ToolRun run;
    HANDLE out = Inheritable(outPath), err = Inheritable(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE)
        return run;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    run.out = Slurp(outPath);
    run.err = Slurp(errPath);
    DeleteFileA(outPath.c_str());
    DeleteFileA(errPath.c_str());
    return run;
}
