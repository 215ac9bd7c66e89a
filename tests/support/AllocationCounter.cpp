#include "tests/support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_counting = false;
thread_local size_t t_allocations = 0;

void* Allocate(size_t size, size_t alignment = 0) {
    if (t_counting) ++t_allocations;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) return std::malloc(size ? size : 1);
    return posix_memalign(&p, alignment, size ? size : 1) == 0 ? p : nullptr;
}

void* AllocateOrThrow(size_t size, size_t alignment = 0) {
    if (void* p = Allocate(size, alignment)) return p;
    throw std::bad_alloc();
}

}  // namespace

namespace KESUTest {

size_t AllocationsOf(const std::function<void()>& run) {
    t_allocations = 0;
    t_counting = true;
    run();
    t_counting = false;
    return t_allocations;
}

bool AllocationCounterInUse() {
    // Through a volatile pointer, so that the pair is not left out.
    static int* volatile probe;
    return AllocationsOf([] {
               probe = new int(1);
               delete probe;
           }) == 1;
}

}  // namespace KESUTest

// Every form, so that each delete frees what the matching new took from malloc.
// clang-format off
using std::align_val_t;
using std::nothrow_t;
void* operator new(size_t n) { return AllocateOrThrow(n); }
void* operator new[](size_t n) { return AllocateOrThrow(n); }
void* operator new(size_t n, const nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const nothrow_t&) noexcept { return Allocate(n); }
void* operator new(size_t n, align_val_t a) { return AllocateOrThrow(n, static_cast<size_t>(a)); }
void* operator new[](size_t n, align_val_t a) { return AllocateOrThrow(n, static_cast<size_t>(a)); }
void* operator new(size_t n, align_val_t a, const nothrow_t&) noexcept { return Allocate(n, size_t(a)); }
void* operator new[](size_t n, align_val_t a, const nothrow_t&) noexcept { return Allocate(n, size_t(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, const nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, align_val_t) noexcept { std::free(p); }
void operator delete(void* p, align_val_t, const nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, align_val_t, const nothrow_t&) noexcept { std::free(p); }
// clang-format on
