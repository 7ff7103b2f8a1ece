// The memory manager's counters for MEMUSED and MEMMAX: the program's operator new and
// operator delete keep the size of each block in a small header in front of it and count the
// bytes in use and the highest figure reached.
//
// Linking this file replaces the global allocation functions for the whole program (it is
// pulled in by the report, which reads the counters). The sanitizer builds keep their own
// allocator: there ERRORS_COUNT_MEMORY is 0 and both counters stay 0.
#include "errors/system_facts.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace errors {

namespace {
std::atomic<std::int64_t> g_inUse{0};
std::atomic<std::int64_t> g_peak{0};
} // namespace

std::int64_t dynamicMemoryInUse() {
    return g_inUse.load(std::memory_order_relaxed);
}
std::int64_t dynamicMemoryPeak() {
    return g_peak.load(std::memory_order_relaxed);
}

#if ERRORS_COUNT_MEMORY

namespace {

// The header keeps malloc's own alignment for the block that follows it.
constexpr std::size_t kHeader = 16;
static_assert(kHeader >= sizeof(std::size_t) && kHeader % alignof(std::size_t) == 0);

void* countedAlloc(std::size_t size) noexcept {
    if (size > SIZE_MAX - kHeader) return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!raw) return nullptr;
    *reinterpret_cast<std::size_t*>(raw) = size;
    const std::int64_t now = g_inUse.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed) +
                             static_cast<std::int64_t>(size);
    std::int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return raw + kHeader;
}

void countedFree(void* p) noexcept {
    if (!p) return;
    auto* raw = static_cast<unsigned char*>(p) - kHeader;
    g_inUse.fetch_sub(static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(raw)),
                      std::memory_order_relaxed);
    std::free(raw);
}

void* countedNew(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        if (void* p = countedAlloc(size)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void* countedNewNothrow(std::size_t size) noexcept {
    try {
        return countedNew(size);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

#endif // ERRORS_COUNT_MEMORY

} // namespace errors

#if ERRORS_COUNT_MEMORY

void* operator new(std::size_t size) {
    return errors::countedNew(size);
}
void* operator new[](std::size_t size) {
    return errors::countedNew(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return errors::countedNewNothrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return errors::countedNewNothrow(size);
}
void operator delete(void* p) noexcept {
    errors::countedFree(p);
}
void operator delete[](void* p) noexcept {
    errors::countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    errors::countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    errors::countedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    errors::countedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    errors::countedFree(p);
}

#endif // ERRORS_COUNT_MEMORY
