#include "platform/win32/security.hpp"

#include "platform/win32/descriptor_bytes.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {
namespace {

platform::Sid copy_sid(PSID sid) {
    const auto* first = static_cast<const uint8_t*>(sid);
    return platform::Sid{std::vector<uint8_t>(first, first + GetLengthSid(sid))};
}

}  // namespace

platform::Result<platform::SecurityDescriptor> Win32Security::get_security_info(
    const platform::Handle& h, uint32_t object_type, uint32_t security_info) {
    LocalMemory descriptor;
    // GetSecurityInfo returns its status instead of setting the last error.
    DWORD status = GetSecurityInfo(to_native(h), static_cast<SE_OBJECT_TYPE>(object_type),
                                   security_info, nullptr, nullptr, nullptr, nullptr,
                                   reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.out()));
    if (status != ERROR_SUCCESS) return platform::win32_error(status);
    return copy_self_relative(descriptor.get());
}

platform::Result<platform::Sid> Win32Security::create_well_known_sid(uint32_t type) {
    alignas(8) uint8_t buffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(buffer);
    if (!CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(type), nullptr, buffer, &size)) {
        return last_error();
    }
    return copy_sid(buffer);
}

platform::Result<platform::Sid> Win32Security::convert_string_sid_to_sid(
    const std::u16string& text) {
    if (has_embedded_nul(text)) return platform::win32_error(platform::win32::invalid_sid);
    LocalMemory sid;
    if (!ConvertStringSidToSidW(wide(text), reinterpret_cast<PSID*>(sid.out()))) {
        return last_error();
    }
    return copy_sid(sid.get());
}

bool Win32Security::equal_sid(const platform::Sid& a, const platform::Sid& b) {
    // EqualSid reads as far as the SIDs say they reach, so only well-formed
    // bytes are handed to it; anything else is equal to nothing.
    if (!platform::sid_is_valid(a.bytes) || !platform::sid_is_valid(b.bytes)) return false;
    std::vector<uint8_t> left = a.bytes;
    std::vector<uint8_t> right = b.bytes;
    return EqualSid(left.data(), right.data()) != FALSE;
}

platform::Result<platform::SecurityDescriptor> Win32Security::convert_sddl_to_security_descriptor(
    const std::u16string& sddl, uint32_t revision) {
    if (has_embedded_nul(sddl)) return platform::win32_error(platform::win32::invalid_parameter);
    LocalMemory descriptor;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            wide(sddl), revision, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.out()),
            &size)) {
        return last_error();
    }
    return copy_self_relative(descriptor.get());
}

}  // namespace holvar::win32
