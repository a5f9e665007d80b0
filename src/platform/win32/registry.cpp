// The registry calls. They return their status instead of setting the last
// error; keys close with RegCloseKey.
#include "platform/win32/registry.hpp"

#include <algorithm>

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {
namespace {

HKEY key_handle(const platform::Handle& h) {
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>(h.raw()));
}

platform::Status status_of(LSTATUS status) {
    if (status != ERROR_SUCCESS) return platform::win32_error(static_cast<uint32_t>(status));
    return {};
}

}  // namespace

platform::Result<platform::Handle> Win32Registry::reg_create_key(const std::u16string& path,
                                                                 uint32_t access) {
    if (has_embedded_nul(path)) return embedded_nul();
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return platform::win32_error(static_cast<uint32_t>(status));
    return platform::Handle(closer_, platform::HandleKind::registry_key, to_raw(key));
}

platform::Result<platform::Handle> Win32Registry::reg_open_key(const std::u16string& path,
                                                               uint32_t access) {
    if (has_embedded_nul(path)) return embedded_nul();
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, access, &key);
    if (status != ERROR_SUCCESS) return platform::win32_error(static_cast<uint32_t>(status));
    return platform::Handle(closer_, platform::HandleKind::registry_key, to_raw(key));
}

platform::Status Win32Registry::reg_set_value(const platform::Handle& key,
                                              const std::u16string& name, uint32_t type,
                                              std::span<const uint8_t> data) {
    if (has_embedded_nul(name)) return embedded_nul();
    if (data.size() > MAXDWORD) return platform::win32_error(platform::win32::invalid_parameter);
    return status_of(RegSetValueExW(key_handle(key), wide(name), 0, type, data.data(),
                                    static_cast<DWORD>(data.size())));
}

platform::Result<platform::RegValueInfo> Win32Registry::reg_query_value(const platform::Handle& key,
                                                                        const std::u16string& name,
                                                                        std::span<uint8_t> buffer) {
    if (has_embedded_nul(name)) return embedded_nul();
    DWORD type = 0;
    // A buffer without data asks for the type and size alone; the size then
    // comes back as the size needed.
    DWORD size = buffer.data() != nullptr
                     ? static_cast<DWORD>(std::min<size_t>(buffer.size(), MAXDWORD))
                     : 0;
    LSTATUS status =
        RegQueryValueExW(key_handle(key), wide(name), nullptr, &type, buffer.data(), &size);
    if (status != ERROR_SUCCESS) return platform::win32_error(static_cast<uint32_t>(status));
    return platform::RegValueInfo{type, size};
}

platform::Status Win32Registry::reg_delete_tree(const platform::Handle& key,
                                                const std::u16string& subkey) {
    if (has_embedded_nul(subkey)) return embedded_nul();
    // No subkey: the key's values and everything below it go, the key stays.
    return status_of(RegDeleteTreeW(key_handle(key), subkey.empty() ? nullptr : wide(subkey)));
}

platform::Status Win32Registry::reg_delete_value(const platform::Handle& key,
                                                 const std::u16string& name) {
    if (has_embedded_nul(name)) return embedded_nul();
    return status_of(RegDeleteValueW(key_handle(key), wide(name)));
}

}  // namespace holvar::win32
