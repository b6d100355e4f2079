// Starts build/bin/pagorex-store.exe beside the test program.
#include "tool_test.h"

#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // the tests' machine, newer than the product's oldest: a run's handle list
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
    // Its two output files and nothing else: a store file another thread has open (the C runtime's
    // are inheritable) would keep a compaction from replacing pagorex.dat while the tool runs.
    HANDLE inherited[] = {out, err};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> list(size);
    STARTUPINFOEXA startup = {};
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = out;
    startup.StartupInfo.hStdError = err;
    PROCESS_INFORMATION process = {};
    if (InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) &&
        UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  sizeof inherited, nullptr, nullptr) &&
        CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                       &process)) {
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
