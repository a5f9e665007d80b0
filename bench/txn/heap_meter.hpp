// The bench process's heap, as seen through a counting operator new: the live
// bytes of every allocation made outside an UncountedScope, and the highest
// level they reached since the last reset.
#pragma once

#include <cstdint>

namespace holvar::bench {

struct HeapMeter {
    static int64_t live();
    static int64_t peak();
    // The peak starts again from the live level.
    static void reset_peak();
    // A block allocated uncounted and handed on to the counted side (a
    // listing the machine built for the engine) is counted from now on.
    static void adopt(const void* block);
};

// Allocations made while one of these lives are not counted, and neither is
// their release later, wherever it happens: the simulated machine's own
// growth stays out of the engine's figures.
class UncountedScope {
  public:
    UncountedScope();
    ~UncountedScope();
    UncountedScope(const UncountedScope&) = delete;
    UncountedScope& operator=(const UncountedScope&) = delete;
};

}  // namespace holvar::bench
