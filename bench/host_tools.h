#pragma once
// What the store's benchmarks need around the program: files in a scratch directory,
// native Linux tools (gzip) timed from inside Wine, programs started and watched from
// outside, and the memory a process takes.

#include <windows.h>

#include <string>

#include "bench/pages.h"

namespace bench {

double Now();

// A new empty directory under the Windows temp directory, ending in a backslash; removed
// with everything in it by RemoveScratch.
std::string MakeScratch(const char* prefix);
void RemoveScratch(const std::string& directory);
bool WriteWholeFile(const std::string& path, const Bytes& bytes);
Bytes ReadWholeFile(const std::string& path);

// Runs a shell command of the machine Wine runs on (paths in it are Unix paths) and
// answers its wall time in seconds, or a negative number when it could not be run. Wine
// starts such programs without a handle to wait on: the command touches a marker file
// when it ends, and the time is taken when the marker appears.
double TimeNativeCommand(const std::string& command);
// The Unix path of a Windows path, or "" outside Wine.
std::string UnixPath(const std::string& windowsPath);

// The program started for a command line; false when it could not be started.
struct Started {
    HANDLE process = nullptr;
    DWORD id = 0;
    HWND window = nullptr;
};
bool StartProgram(Started& program, const std::string& exe, const std::string& commandLine);
// Polls (every millisecond) for the program's visible main window.
bool WaitForMainWindow(Started& program, double timeoutSeconds);
// Polls for the colour at (x, y) of the main window's client area.
bool WaitForClientPixel(const Started& program, int x, int y, COLORREF colour, double timeoutSeconds);
// Closes the main window and waits for the end, killing the program if it hangs.
void EndProgram(Started& program);

// Samples the process's private bytes (its committed memory) from another thread, every
// few milliseconds, for as long as it lives; the peak is the largest sample. (Wine's own
// peak counter follows the current value.)
class PrivateBytesPeak {
public:
    PrivateBytesPeak();
    ~PrivateBytesPeak();
    PrivateBytesPeak(const PrivateBytesPeak&) = delete;
    PrivateBytesPeak& operator=(const PrivateBytesPeak&) = delete;
    std::size_t Peak() const { return peak_; }

private:
    static DWORD WINAPI Sample(void* self);
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    volatile std::size_t peak_ = 0;
};

}  // namespace bench
