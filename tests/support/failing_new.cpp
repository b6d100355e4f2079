// operator new and delete over malloc and free, counting what is allocated while armed.
#include "support/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace failing_new {
namespace {
std::atomic<long> countdown{0}, counted{0};
std::atomic<bool> failed{false}, faulting{false};
thread_local int exempt = 0;
}  // namespace

void* Allocate(std::size_t size)
{
    if (countdown.load(std::memory_order_relaxed) > 0 && exempt == 0) {
        ++counted;
        if (countdown.fetch_sub(1) == 1) {
            failed = true;
            return nullptr;
        }
    }
    return std::malloc(size ? size : 1);
}

void FailAt(long n, Failure how)
{
    countdown = 0;
    counted = 0;
    failed = false;
    faulting = how == Failure::kFault;
    countdown = n;
}

bool Faulting() { return faulting; }

long Counted() { return counted; }
bool Failed() { return failed; }
Exempt::Exempt() { ++exempt; }
Exempt::~Exempt() { --exempt; }
}  // namespace failing_new

void* operator new(std::size_t size)
{
    if (void* p = failing_new::Allocate(size))
        return p;
    if (failing_new::Faulting())
        throw std::runtime_error("a fault for the test");
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return failing_new::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return failing_new::Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
