#include "platform/win32/pipes.hpp"

#include <algorithm>
#include <chrono>

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

namespace {

// A manual-reset event for one overlapped call, closed on every path.
class IoEvent {
  public:
    IoEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~IoEvent() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    IoEvent(const IoEvent&) = delete;
    IoEvent& operator=(const IoEvent&) = delete;
    HANDLE get() const { return event_; }

  private:
    HANDLE event_;
};

// Milliseconds for a wait, rounded up so the wait is never shorter than the
// bound and never INFINITE.
DWORD wait_ms(platform::Duration timeout) {
    if (timeout <= platform::Duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    return static_cast<DWORD>(std::min<int64_t>(ms, INFINITE - 1));
}

// Waits for a started overlapped call for at most `timeout`. When the wait runs
// out the call is cancelled and the cancellation waited for, because the
// OVERLAPPED and the buffer live on the caller's stack; a call that completed
// before the cancel landed still counts.
platform::Result<uint32_t> finish_overlapped(HANDLE pipe, OVERLAPPED& ov, BOOL started,
                                             platform::Duration timeout) {
    if (!started) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) return platform::win32_error(code);
        if (WaitForSingleObject(ov.hEvent, wait_ms(timeout)) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &ov);
        }
    }
    DWORD done = 0;
    if (!GetOverlappedResult(pipe, &ov, &done, TRUE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_OPERATION_ABORTED) return platform::wait_timed_out();
        return platform::win32_error(code);
    }
    return static_cast<uint32_t>(done);
}

}  // namespace

platform::Result<uint32_t> Win32Pipes::get_named_pipe_server_process_id(
    const platform::Handle& pipe) {
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(to_native(pipe), &pid)) return last_error();
    return static_cast<uint32_t>(pid);
}

platform::Result<uint32_t> Win32Pipes::read_pipe(const platform::Handle& pipe,
                                                 std::span<uint8_t> buffer,
                                                 platform::Duration timeout) {
    IoEvent event;
    if (event.get() == nullptr) return last_error();
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    const DWORD count = static_cast<DWORD>(std::min<size_t>(buffer.size(), 0x7FFFFFFF));
    const BOOL started = ReadFile(to_native(pipe), buffer.data(), count, nullptr, &ov);
    auto result = finish_overlapped(to_native(pipe), ov, started, timeout);
    // A message-mode server may hand over more than fits; for a byte stream
    // the rest simply waits for the next read.
    if (!result && result.error().is_win32(ERROR_MORE_DATA)) {
        DWORD done = 0;
        GetOverlappedResult(to_native(pipe), &ov, &done, FALSE);
        return static_cast<uint32_t>(done);
    }
    if (result && *result == 0 && count > 0) {
        // A zero-byte read on a byte-mode pipe only happens at its end.
        return platform::win32_error(ERROR_BROKEN_PIPE);
    }
    return result;
}

platform::Result<uint32_t> Win32Pipes::write_pipe(const platform::Handle& pipe,
                                                  std::span<const uint8_t> bytes,
                                                  platform::Duration timeout) {
    IoEvent event;
    if (event.get() == nullptr) return last_error();
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    const DWORD count = static_cast<DWORD>(std::min<size_t>(bytes.size(), 0x7FFFFFFF));
    const BOOL started = WriteFile(to_native(pipe), bytes.data(), count, nullptr, &ov);
    return finish_overlapped(to_native(pipe), ov, started, timeout);
}

}  // namespace holvar::win32
