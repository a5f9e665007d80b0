// The test program's replacement of the global operator new and delete. They
// live in a file of their own, apart from every new-expression: where the
// optimiser can inline the malloc and free behind them into a test, it takes
// a new-expression's pointer reaching free for a mismatched pair.
#include "v3_transport/allocation_watch.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_watch{false};
std::atomic<size_t> g_largest{0};
}  // namespace

namespace holvar::testing {

void start_allocation_watch() {
    g_largest = 0;
    g_watch = true;
}

size_t stop_allocation_watch() {
    g_watch = false;
    return g_largest.load();
}

}  // namespace holvar::testing

void* operator new(size_t size) {
    if (g_watch.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
