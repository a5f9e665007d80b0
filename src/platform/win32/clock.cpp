#include "platform/win32/clock.hpp"

#include <algorithm>
#include <chrono>

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

Win32Clock::Win32Clock() {
    // Never fails on Windows XP and later; keep a usable divisor regardless.
    LARGE_INTEGER frequency{};
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
        frequency_ = frequency.QuadPart;
    }
}

platform::Instant Win32Clock::now() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart, so that counts times 10^9 cannot
    // overflow however long the machine has been up.
    const int64_t count = counter.QuadPart;
    const int64_t seconds = count / frequency_;
    const int64_t rest = count % frequency_;
    return platform::Instant(seconds * 1'000'000'000 + rest * 1'000'000'000 / frequency_);
}

void Win32Clock::sleep_for(platform::Duration d) {
    if (d <= platform::Duration::zero()) return;
    // Rounded up to whole milliseconds, so a sleep is never shorter than asked;
    // INFINITE is never passed.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    while (ms > 0) {
        const DWORD step = static_cast<DWORD>(std::min<int64_t>(ms, INFINITE - 1));
        Sleep(step);
        ms -= step;
    }
}

}  // namespace holvar::win32
