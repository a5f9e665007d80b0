#include "heap_meter.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace holvar::bench {

namespace {

// Every block carries a header in front of it: its size and whether it was
// counted, so that its release undoes exactly what its allocation did.
struct alignas(std::max_align_t) Header {
    size_t size;
    bool counted;
};

// One thread runs at a time (the bench waits for each engine run's thread):
// plain figures, and a pause that the engine's thread inherits from the
// thread that started it.
int64_t live_bytes = 0;
int64_t peak_bytes = 0;
int uncounted_depth = 0;

void* allocate(size_t n) noexcept {
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + n));
    if (h == nullptr) return nullptr;
    h->size = n;
    h->counted = uncounted_depth == 0;
    if (h->counted) {
        live_bytes += static_cast<int64_t>(n);
        if (live_bytes > peak_bytes) peak_bytes = live_bytes;
    }
    return h + 1;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    Header* h = static_cast<Header*>(p) - 1;
    if (h->counted) live_bytes -= static_cast<int64_t>(h->size);
    std::free(h);
}

void* allocate_or_throw(size_t n) {
    void* p = allocate(n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

int64_t HeapMeter::live() {
    return live_bytes;
}
int64_t HeapMeter::peak() {
    return peak_bytes;
}
void HeapMeter::adopt(const void* block) {
    if (block == nullptr) return;
    Header* h = const_cast<Header*>(static_cast<const Header*>(block) - 1);
    if (h->counted) return;
    h->counted = true;
    live_bytes += static_cast<int64_t>(h->size);
    if (live_bytes > peak_bytes) peak_bytes = live_bytes;
}
void HeapMeter::reset_peak() {
    peak_bytes = live_bytes;
}

UncountedScope::UncountedScope() {
    ++uncounted_depth;
}
UncountedScope::~UncountedScope() {
    --uncounted_depth;
}

}  // namespace holvar::bench

// The replaceable allocation functions of the whole bench executable. The
// over-aligned forms keep the library's own (no type of this code needs them).
void* operator new(size_t n) {
    return holvar::bench::allocate_or_throw(n);
}
void* operator new[](size_t n) {
    return holvar::bench::allocate_or_throw(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    return holvar::bench::allocate(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    return holvar::bench::allocate(n);
}
void operator delete(void* p) noexcept {
    holvar::bench::release(p);
}
void operator delete[](void* p) noexcept {
    holvar::bench::release(p);
}
void operator delete(void* p, size_t) noexcept {
    holvar::bench::release(p);
}
void operator delete[](void* p, size_t) noexcept {
    holvar::bench::release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    holvar::bench::release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    holvar::bench::release(p);
}
