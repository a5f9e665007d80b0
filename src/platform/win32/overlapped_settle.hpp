// How an overlapped call on a pipe ends when its caller may wait only so long.
// The call writes into its OVERLAPPED and buffer until Windows completes it, so
// the caller must know whether it has ended before it lets them go.
#pragma once

#include <cstdint>

namespace holvar::win32 {

inline constexpr uint32_t error_not_found = 1168;

enum class Settled : uint8_t {
    completed,  // the call ended (done, failed or cancelled): its result can be read
    abandoned,  // the call may still run: its OVERLAPPED and buffer must outlive it
};

// `wait(ms)`: whether the call's event was signalled within `ms` (never
// INFINITE). `cancel()`: CancelIoEx's error, 0 when the cancel was requested.
// A call still running at `timeout_ms` is cancelled and given `grace_ms` to
// end. ERROR_NOT_FOUND means it ended between the wait and the cancel. Any
// other failure leaves nothing that would end it, so it is abandoned at once;
// so is a call that outlasts its grace: no wait here is unbounded.
template <class Wait, class Cancel>
Settled settle_overlapped(Wait wait, Cancel cancel, uint32_t timeout_ms, uint32_t grace_ms) {
    if (wait(timeout_ms)) return Settled::completed;
    const uint32_t cancelled = cancel();
    if (cancelled != 0 && cancelled != error_not_found) return Settled::abandoned;
    return wait(grace_ms) ? Settled::completed : Settled::abandoned;
}

}  // namespace holvar::win32
