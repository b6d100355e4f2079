#pragma once
// Memory that runs out at a chosen moment: failing_new.cpp replaces operator new in the
// test program that links it, and once armed the n-th allocation, on any thread, fails;
// those before and after it succeed, as a large block may fail in a cut-up 32-bit
// address space while small ones still come.

#include <cstddef>

namespace failing_new {

// What operator new allocates through: null for the failing allocation.
void* Allocate(std::size_t size);
// How the failing allocation fails: std::bad_alloc, or another exception (a fault).
enum class Failure { kOutOfMemory, kFault };
// Arms the failure at the n-th allocation from now (n > 0), or disarms it (0).
void FailAt(long n, Failure how = Failure::kOutOfMemory);
// Whether the armed failure is a fault.
bool Faulting();
// Allocations counted since the last FailAt, the failed one included.
long Counted();
// Whether the armed allocation has come and failed.
bool Failed();

// Allocations of the calling thread are neither counted nor failed while one lives: the
// test's own bookkeeping inside a run.
class Exempt {
public:
    Exempt();
    ~Exempt();
    Exempt(const Exempt&) = delete;
    Exempt& operator=(const Exempt&) = delete;
};

}  // namespace failing_new
