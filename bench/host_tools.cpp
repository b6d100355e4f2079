#include "bench/host_tools.h"

#include <psapi.h>

#include "support/driver.h"

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

double TimeNativeCommand(const std::string& command)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    char marker[MAX_PATH];
    std::snprintf(marker, sizeof marker, "%spagorex-bench-done-%lu", temp, GetCurrentProcessId());
    DeleteFileA(marker);
    std::string unixMarker = driver::UnixPath(marker);
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
