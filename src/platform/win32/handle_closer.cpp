#include "platform/win32/handle_closer.hpp"

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

void Win32HandleCloser::close_handle(platform::HandleKind kind, uint64_t raw) noexcept {
    // A failed close cannot be acted on: the handle value is gone either way.
    switch (kind) {
        case platform::HandleKind::kernel:
            CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(raw)));
            break;
        case platform::HandleKind::service:
            CloseServiceHandle(reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(raw)));
            break;
        case platform::HandleKind::registry_key:
            RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(raw)));
            break;
    }
}

}  // namespace holvar::win32
