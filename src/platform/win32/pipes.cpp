#include "platform/win32/pipes.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/win32/overlapped_settle.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

namespace {

// How long a cancelled call is given to end before it is abandoned. A pipe
// call ends at once when cancelled; only a stuck driver takes longer.
constexpr DWORD kCancelGraceMs = 2000;

// One overlapped call: its OVERLAPPED, event and bytes on the heap, because
// Windows writes into them until the call has ended. A call that could not be
// seen to end is abandoned with them (released, never freed): a leak bounded
// by one buffer per such call, where freeing would let Windows write into
// memory that is reused.
class PipeCall {
  public:
    explicit PipeCall(size_t bytes) : bytes_(bytes) {
        event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ov_.hEvent = event_;
    }
    ~PipeCall() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    PipeCall(const PipeCall&) = delete;
    PipeCall& operator=(const PipeCall&) = delete;
    bool ready() const { return event_ != nullptr; }
    OVERLAPPED* overlapped() { return &ov_; }
    std::vector<uint8_t>& bytes() { return bytes_; }
    DWORD count() const { return static_cast<DWORD>(std::min<size_t>(bytes_.size(), 0x7FFFFFFF)); }

  private:
    OVERLAPPED ov_{};
    HANDLE event_ = nullptr;
    std::vector<uint8_t> bytes_;
};

// Milliseconds for a wait, rounded up so the wait is never shorter than the
// bound and never INFINITE.
DWORD wait_ms(platform::Duration timeout) {
    if (timeout <= platform::Duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    return static_cast<DWORD>(std::min<int64_t>(ms, INFINITE - 1));
}

// Waits for a started call for at most `timeout`, then cancels it and gives the
// cancel a bounded while to land. A call that completed before the cancel
// landed still counts; one that cannot be seen to end is abandoned.
platform::Result<uint32_t> finish_call(HANDLE pipe, std::unique_ptr<PipeCall>& call, BOOL started,
                                       platform::Duration timeout) {
    OVERLAPPED* ov = call->overlapped();
    if (!started) {
        const DWORD code = GetLastError();
        // ERROR_MORE_DATA: a message read that ended at once, partly; its
        // count is read below.
        if (code != ERROR_IO_PENDING && code != ERROR_MORE_DATA) return failure_from(code);
        const auto wait = [&](uint32_t ms) {
            return WaitForSingleObject(ov->hEvent, ms) == WAIT_OBJECT_0;
        };
        const auto cancel = [&]() -> uint32_t {
            return CancelIoEx(pipe, ov) ? 0 : static_cast<uint32_t>(GetLastError());
        };
        if (code == ERROR_IO_PENDING && settle_overlapped(wait, cancel, wait_ms(timeout),
                                                          kCancelGraceMs) == Settled::abandoned) {
            (void)call.release();
            return platform::wait_timed_out();
        }
    }
    // The call has ended: this reads its result without waiting.
    DWORD done = 0;
    if (!GetOverlappedResult(pipe, ov, &done, FALSE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_OPERATION_ABORTED) return platform::wait_timed_out();
        // A message-mode server may hand over more than fits; for a byte
        // stream the rest simply waits for the next read.
        if (code == ERROR_MORE_DATA) return static_cast<uint32_t>(done);
        return failure_from(code);
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
    auto call = std::make_unique<PipeCall>(std::min<size_t>(buffer.size(), 0x7FFFFFFF));
    if (!call->ready()) return last_error();
    const DWORD count = call->count();
    const BOOL started =
        ReadFile(to_native(pipe), call->bytes().data(), count, nullptr, call->overlapped());
    auto result = finish_call(to_native(pipe), call, started, timeout);
    if (!result) return result;
    if (*result == 0 && count > 0) {
        // A zero-byte read on a byte-mode pipe only happens at its end.
        return platform::win32_error(ERROR_BROKEN_PIPE);
    }
    std::memcpy(buffer.data(), call->bytes().data(), std::min<size_t>(*result, buffer.size()));
    return result;
}

platform::Result<uint32_t> Win32Pipes::write_pipe(const platform::Handle& pipe,
                                                  std::span<const uint8_t> bytes,
                                                  platform::Duration timeout) {
    auto call = std::make_unique<PipeCall>(std::min<size_t>(bytes.size(), 0x7FFFFFFF));
    if (!call->ready()) return last_error();
    std::copy_n(bytes.begin(), call->bytes().size(), call->bytes().begin());
    const BOOL started = WriteFile(to_native(pipe), call->bytes().data(), call->count(), nullptr,
                                   call->overlapped());
    return finish_call(to_native(pipe), call, started, timeout);
}

}  // namespace holvar::win32
