// The largest single allocation made while a watch is on, to show that a
// response's buffer is not allocated before its length has been checked.
#pragma once

#include <cstddef>

namespace holvar::testing {

// Forgets what an earlier watch saw and starts recording.
void start_allocation_watch();
// Stops recording; the largest single allocation since the start.
size_t stop_allocation_watch();

}  // namespace holvar::testing
