#include "platform/win32/sync.hpp"

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

platform::Result<platform::CreatedMutex> Win32Sync::create_mutex(const std::u16string& name,
                                                                 bool initial_owner) {
    if (has_embedded_nul(name)) return platform::win32_error(platform::win32::invalid_name);
    // Whether the mutex existed is only told through the last error of a
    // successful call; clear it first so a stale value cannot be read as that.
    SetLastError(ERROR_SUCCESS);
    HANDLE h = CreateMutexW(nullptr, initial_owner ? TRUE : FALSE, wide(name));
    const DWORD error = GetLastError();
    if (h == nullptr) return failure_from(error);
    platform::CreatedMutex out;
    out.handle = platform::Handle(closer_, platform::HandleKind::kernel, to_raw(h));
    out.already_existed = error == ERROR_ALREADY_EXISTS;
    return out;
}

platform::Result<uint32_t> Win32Sync::wait_for_single_object(const platform::Handle& h,
                                                             uint32_t timeout_ms) {
    DWORD result = WaitForSingleObject(to_native(h), timeout_ms);
    if (result == WAIT_FAILED) return last_error();
    return result;
}

}  // namespace holvar::win32
