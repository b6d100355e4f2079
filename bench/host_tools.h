#pragma once
// What the store's benchmarks need around the program beyond the test driver
// (tests/support/driver.h, which starts and watches it from outside): native Linux tools
// (gzip) timed from inside Wine, and the memory a process takes.

#include <windows.h>

#include <string>

#include "bench/pages.h"
#include "support/driver.h"

namespace bench {

double Now();

// The Unix path of a Windows path, or "" outside Wine (the test driver's).
using driver::UnixPath;

// Runs a shell command of the machine Wine runs on (paths in it are Unix paths) and
// answers its wall time in seconds, or a negative number when it could not be run. Wine
// starts such programs without a handle to wait on: the command touches a marker file
// when it ends, and the time is taken when the marker appears.
double TimeNativeCommand(const std::string& command);

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
