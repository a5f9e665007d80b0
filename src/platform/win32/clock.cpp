#include "platform/win32/clock.hpp"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/win32/bounded_run.hpp"
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

namespace {

// The worker thread owns its task: an abandoned task runs to its end and
// frees itself there, whatever became of the caller's wait.
DWORD WINAPI run_task(void* parameter) {
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(parameter));
    (*task)();
    return 0;
}

}  // namespace

bool Win32Clock::run_bounded(std::function<void()> task, platform::Duration limit) {
    auto owned = std::make_unique<std::function<void()>>(std::move(task));
    HANDLE thread = nullptr;
    const auto start = [&] {
        thread = CreateThread(nullptr, 0, run_task, owned.get(), 0, nullptr);
        if (thread == nullptr) return false;
        owned.release();  // the worker frees it
        return true;
    };
    const auto wait_end = [&] {
        const auto ms = limit <= platform::Duration::zero()
                            ? int64_t{0}
                            : std::chrono::ceil<std::chrono::milliseconds>(limit).count();
        const DWORD wait =
            WaitForSingleObject(thread, static_cast<DWORD>(std::min<int64_t>(ms, INFINITE - 1)));
        CloseHandle(thread);
        return wait == WAIT_OBJECT_0;
    };
    return run_on_worker(start, wait_end);
}

}  // namespace holvar::win32
