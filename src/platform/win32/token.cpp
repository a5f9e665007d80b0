// Process tokens: open, query, and enable a privilege.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/buffer_words.hpp"
#include "platform/win32/security.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

platform::Result<platform::Handle> Win32Security::open_process_token(
    const platform::Handle* process, uint32_t access) {
    HANDLE token = nullptr;
    HANDLE owner = process != nullptr ? to_native(*process) : GetCurrentProcess();
    if (!OpenProcessToken(owner, access, &token)) return last_error();
    return platform::Handle(closer_, platform::HandleKind::kernel, to_raw(token));
}

platform::Result<platform::TokenInformation> Win32Security::get_token_information(
    const platform::Handle& token, uint32_t info_class, uint32_t buffer_bytes) {
    // 8-byte aligned: TOKEN_USER starts with a pointer.
    std::vector<uint64_t> storage(words_for_bytes(buffer_bytes));
    auto* buffer = reinterpret_cast<uint8_t*>(storage.data());
    DWORD written = 0;
    platform::TokenInformation out;
    if (!GetTokenInformation(to_native(token), static_cast<TOKEN_INFORMATION_CLASS>(info_class),
                             buffer_bytes != 0 ? buffer : nullptr, buffer_bytes, &written)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_BAD_LENGTH) {
            return failure_from(error);
        }
        out.last_error = error;
        out.return_length = written;
        return out;
    }
    out.return_length = written;
    out.bytes.assign(buffer, buffer + std::min<DWORD>(written, buffer_bytes));
    if (info_class == platform::TokenUser && out.bytes.size() >= sizeof(TOKEN_USER)) {
        // The SID pointer means nothing across the boundary: it becomes the
        // SID's offset from the buffer's start.
        TOKEN_USER user{};
        std::memcpy(&user, buffer, sizeof(user));
        const auto* sid = static_cast<const uint8_t*>(user.User.Sid);
        if (sid < buffer || sid >= buffer + out.bytes.size()) {
            return platform::invalid_data("token user SID outside the buffer");
        }
        const uint64_t offset = static_cast<uint64_t>(sid - buffer);
        std::memcpy(out.bytes.data(), &offset, sizeof(offset));
    }
    return out;
}

platform::Result<uint64_t> Win32Security::lookup_privilege_value(const std::u16string& name) {
    if (has_embedded_nul(name)) return embedded_nul();
    LUID luid{};
    if (!LookupPrivilegeValueW(nullptr, wide(name), &luid)) return last_error();
    return (static_cast<uint64_t>(static_cast<uint32_t>(luid.HighPart)) << 32) | luid.LowPart;
}

platform::Result<uint32_t> Win32Security::adjust_token_privileges(const platform::Handle& token,
                                                                  uint64_t luid,
                                                                  uint32_t attributes) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
    privileges.Privileges[0].Attributes = attributes;
    // Success still says through the last error whether every privilege was
    // assigned (0) or not (ERROR_NOT_ALL_ASSIGNED).
    SetLastError(ERROR_SUCCESS);
    if (!AdjustTokenPrivileges(to_native(token), FALSE, &privileges, 0, nullptr, nullptr)) {
        return last_error();
    }
    return static_cast<uint32_t>(GetLastError());
}

}  // namespace holvar::win32
