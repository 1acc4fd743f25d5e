// Counts the bytes the process allocates while a test watches, to check the
// separable filter's temporaries.
#include "convolution/AllocationCounter.h"

// ThreadSanitizer's runtime brings its own operator new and delete, which a
// test program cannot replace: there the scopes measure nothing (always 0), and
// the memory checks are left to the other builds.
#if defined(__SANITIZE_THREAD__)
#define NVF_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NVF_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef NVF_COUNT_ALLOCATIONS
#define NVF_COUNT_ALLOCATIONS 1
#endif

#include <atomic>
#include <cstdlib>
#include <new>

#if NVF_COUNT_ALLOCATIONS
namespace {

// Every block carries its size in a header, whether or not a scope is open, so
// that any block can be freed at any time.
constexpr std::size_t kHeader = alignof(std::max_align_t) > sizeof(std::size_t) ? alignof(std::max_align_t)
                                                                                 : sizeof(std::size_t);

std::atomic<int> g_scopes{0};
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void* allocate(std::size_t size) {
    void* raw = std::malloc(size + kHeader);
    if (raw == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(raw) = size;
    if (g_scopes.load() > 0) {
        const long long live = (g_live += static_cast<long long>(size));
        long long peak = g_peak.load();
        while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
        }
    }
    return static_cast<char*>(raw) + kHeader;
}

void release(void* p) noexcept {
    if (p == nullptr) {
        return;
    }
    void* raw = static_cast<char*>(p) - kHeader;
    if (g_scopes.load() > 0) {
        g_live -= static_cast<long long>(*static_cast<std::size_t*>(raw));
    }
    std::free(raw);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
#else
namespace {
std::atomic<int> g_scopes{0};
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};
}  // namespace
#endif

namespace alloccount {

Scope::Scope() {
    g_live = 0;
    g_peak = 0;
    ++g_scopes;
}

Scope::~Scope() { --g_scopes; }

long long Scope::liveBytes() const { return g_live.load(); }
long long Scope::peakBytes() const { return g_peak.load(); }

}  // namespace alloccount
