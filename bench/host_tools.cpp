#include "bench/host_tools.h"

#include <psapi.h>

#include <cstdio>

namespace bench {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

std::string MakeScratch(const char* prefix)
{
    char base[MAX_PATH] = "";
    GetTempPathA(sizeof base, base);
    for (unsigned attempt = 0;; ++attempt) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%s%s-%lu-%u", base, prefix, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(name, nullptr))
            return std::string(name) + "\\";
    }
}

void RemoveScratch(const std::string& directory)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                DeleteFileA((directory + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

bool WriteWholeFile(const std::string& path, const Bytes& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                                written == bytes.size());
    CloseHandle(file);
    return ok;
}

Bytes ReadWholeFile(const std::string& path)
{
    Bytes bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr))
        read = 0;
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

std::string UnixPath(const std::string& windowsPath)
{
    using ToUnix = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return "";
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
    char* unix = toUnix(wide);
    if (!unix)
        return "";
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

double TimeNativeCommand(const std::string& command)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    char marker[MAX_PATH];
    std::snprintf(marker, sizeof marker, "%spagorex-bench-done-%lu", temp, GetCurrentProcessId());
    DeleteFileA(marker);
    std::string unixMarker = UnixPath(marker);
    if (unixMarker.empty())
        return -1;
    std::string line = "/bin/sh -c \"" + command + "; : > '" + unixMarker + "'\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    double start = Now();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    if (info.hProcess)
        CloseHandle(info.hProcess);
    if (info.hThread)
        CloseHandle(info.hThread);
    while (GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES) {
        if (Now() - start > 300)
            return -1;
        Sleep(1);
    }
    double seconds = Now() - start;
    DeleteFileA(marker);
    return seconds;
}

namespace {
struct Search {
    DWORD id;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == search->id && lstrcmpA(name, "TW_App_MainWnd") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

bool StartProgram(Started& program, const std::string& exe, const std::string& commandLine)
{
    std::string line = "\"" + exe + "\" " + commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    program = Started{info.hProcess, info.dwProcessId, nullptr};
    return true;
}

bool WaitForMainWindow(Started& program, double timeoutSeconds)
{
    double start = Now();
    while (Now() - start < timeoutSeconds) {
        Search search{program.id, nullptr};
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
        if ((program.window = search.found) != nullptr)
            return true;
        if (WaitForSingleObject(program.process, 0) == WAIT_OBJECT_0)
            return false;
        Sleep(1);
    }
    return false;
}

bool WaitForClientPixel(const Started& program, int x, int y, COLORREF colour, double timeoutSeconds)
{
    double start = Now();
    while (Now() - start < timeoutSeconds) {
        HDC dc = GetDC(program.window);
        COLORREF seen = GetPixel(dc, x, y);
        ReleaseDC(program.window, dc);
        if (seen == colour)
            return true;
        Sleep(1);
    }
    return false;
}

void EndProgram(Started& program)
{
    if (!program.process)
        return;
    if (program.window)
        PostMessageA(program.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(program.process, 20000) != WAIT_OBJECT_0)
        TerminateProcess(program.process, 1);
    CloseHandle(program.process);
    program = Started{};
}

PrivateBytesPeak::PrivateBytesPeak()
{
    thread_ = CreateThread(nullptr, 0, Sample, this, 0, nullptr);
}

PrivateBytesPeak::~PrivateBytesPeak()
{
    InterlockedExchange(&stop_, 1);
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

DWORD WINAPI PrivateBytesPeak::Sample(void* self)
{
    auto* peak = static_cast<PrivateBytesPeak*>(self);
    do {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) &&
            counters.PagefileUsage > peak->peak_)
            peak->peak_ = counters.PagefileUsage;
        Sleep(2);
    } while (!peak->stop_);
    return 0;
}

}  // namespace bench
