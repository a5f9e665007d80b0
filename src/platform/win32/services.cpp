#include "platform/win32/services.hpp"

#include <cstring>
#include <memory>

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

using platform::Handle;
using platform::Result;
using platform::Status;

namespace {

SC_HANDLE to_sc(const Handle& h) {
    return reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(h.raw()));
}

uint64_t sc_raw(SC_HANDLE h) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
}

// A multi-string keeps its NULs inside; only the text of its entries may not
// hold one more than the list's own terminator.
bool ends_as_multi_string(const std::u16string& text) {
    return text.size() >= 2 && text[text.size() - 1] == u'\0' && text[text.size() - 2] == u'\0';
}

// The NUL-terminated text a pointer of a returned record names, read only
// inside the buffer; none for a NULL pointer or one outside the buffer.
std::optional<std::u16string> text_in(const uint8_t* buffer, size_t size, const wchar_t* p,
                                      bool multi) {
    if (p == nullptr) return std::nullopt;
    auto at = reinterpret_cast<const uint8_t*>(p);
    if (at < buffer || at >= buffer + size) return std::nullopt;
    size_t units = static_cast<size_t>(buffer + size - at) / 2;
    std::u16string out;
    for (size_t i = 0; i < units; ++i) {
        char16_t c;
        std::memcpy(&c, at + 2 * i, 2);
        // A text ends at its NUL; a multi-string at its first empty entry,
        // and keeps the NUL of every entry.
        if (c == u'\0' && (!multi || out.empty() || out.back() == u'\0')) return out;
        out.push_back(c);
    }
    return std::nullopt;
}

}  // namespace

Result<Handle> Win32Services::open_sc_manager(uint32_t access) {
    SC_HANDLE h = OpenSCManagerW(nullptr, nullptr, access);
    if (h == nullptr) return last_error();
    return Handle(closer_, platform::HandleKind::service, sc_raw(h));
}

Result<Handle> Win32Services::open_service(const Handle& scm, const std::u16string& name,
                                           uint32_t access) {
    if (has_embedded_nul(name)) return embedded_nul();
    SC_HANDLE h = OpenServiceW(to_sc(scm), wide(name), access);
    if (h == nullptr) return last_error();
    return Handle(closer_, platform::HandleKind::service, sc_raw(h));
}

Result<Handle> Win32Services::create_service(const Handle& scm, const std::u16string& name,
                                             const std::u16string& display_name, uint32_t access,
                                             uint32_t service_type, uint32_t start_type,
                                             uint32_t error_control,
                                             const std::u16string& binary_path,
                                             const std::u16string& dependencies,
                                             const std::u16string& start_name) {
    if (has_embedded_nul(name) || has_embedded_nul(display_name) || has_embedded_nul(binary_path) ||
        has_embedded_nul(start_name))
        return embedded_nul();
    if (!ends_as_multi_string(dependencies)) return embedded_nul();
    SC_HANDLE h = CreateServiceW(to_sc(scm), wide(name), wide(display_name), access, service_type,
                                 start_type, error_control, wide(binary_path), nullptr, nullptr,
                                 wide(dependencies), wide(start_name), nullptr);
    if (h == nullptr) return last_error();
    return Handle(closer_, platform::HandleKind::service, sc_raw(h));
}

Status Win32Services::change_service_config(const Handle& h, uint32_t service_type,
                                            uint32_t start_type, uint32_t error_control,
                                            const std::u16string* binary_path,
                                            const std::u16string* dependencies,
                                            const std::u16string* start_name,
                                            const std::u16string* display_name) {
    for (const std::u16string* t : {binary_path, start_name, display_name})
        if (t != nullptr && has_embedded_nul(*t)) return embedded_nul();
    if (dependencies != nullptr && !ends_as_multi_string(*dependencies)) return embedded_nul();
    auto arg = [](const std::u16string* t) { return t == nullptr ? nullptr : wide(*t); };
    if (!ChangeServiceConfigW(to_sc(h), service_type, start_type, error_control, arg(binary_path),
                              nullptr, nullptr, arg(dependencies), arg(start_name), nullptr,
                              arg(display_name)))
        return last_error();
    return {};
}

Status Win32Services::change_service_description(const Handle& h,
                                                 const std::u16string* description) {
    if (description != nullptr && has_embedded_nul(*description)) return embedded_nul();
    // The call takes a writable pointer but does not write through it.
    std::u16string copy = description != nullptr ? *description : std::u16string();
    SERVICE_DESCRIPTIONW info{};
    info.lpDescription = description != nullptr ? reinterpret_cast<wchar_t*>(copy.data()) : nullptr;
    if (!ChangeServiceConfig2W(to_sc(h), SERVICE_CONFIG_DESCRIPTION, &info)) return last_error();
    return {};
}

Result<platform::ServiceConfigAnswer> Win32Services::query_service_config(const Handle& h,
                                                                          uint32_t buffer_bytes) {
    // Pointer-aligned storage for the record and the strings behind it.
    const size_t words = (static_cast<size_t>(buffer_bytes) + 7) / 8;
    std::unique_ptr<uint64_t[]> storage(new uint64_t[words == 0 ? 1 : words]());
    auto* record = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(storage.get());
    DWORD needed = 0;
    platform::ServiceConfigAnswer out;
    if (!QueryServiceConfigW(to_sc(h), buffer_bytes == 0 ? nullptr : record, buffer_bytes,
                             &needed)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return platform::win32_error(error);
        out.bytes_needed = needed;
        return out;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(storage.get());
    platform::QueryServiceConfig c;
    c.service_type = record->dwServiceType;
    c.start_type = record->dwStartType;
    c.error_control = record->dwErrorControl;
    c.binary_path = text_in(base, buffer_bytes, record->lpBinaryPathName, false);
    c.load_order_group = text_in(base, buffer_bytes, record->lpLoadOrderGroup, false);
    c.tag_id = record->dwTagId;
    c.dependencies = text_in(base, buffer_bytes, record->lpDependencies, true);
    c.service_start_name = text_in(base, buffer_bytes, record->lpServiceStartName, false);
    c.display_name = text_in(base, buffer_bytes, record->lpDisplayName, false);
    out.bytes_needed = needed;
    out.config = std::move(c);
    return out;
}

Result<platform::ServiceDescriptionAnswer> Win32Services::query_service_description(
    const Handle& h, uint32_t buffer_bytes) {
    const size_t words = (static_cast<size_t>(buffer_bytes) + 7) / 8;
    std::unique_ptr<uint64_t[]> storage(new uint64_t[words == 0 ? 1 : words]());
    auto* bytes = reinterpret_cast<LPBYTE>(storage.get());
    DWORD needed = 0;
    platform::ServiceDescriptionAnswer out;
    if (!QueryServiceConfig2W(to_sc(h), SERVICE_CONFIG_DESCRIPTION,
                              buffer_bytes == 0 ? nullptr : bytes, buffer_bytes, &needed)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return platform::win32_error(error);
        out.bytes_needed = needed;
        return out;
    }
    out.bytes_needed = needed;
    out.fitted = true;
    out.buffer.assign(bytes, bytes + buffer_bytes);
    const auto* info = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(storage.get());
    if (info->lpDescription != nullptr) {
        // Kept as an offset: the caller checks that it lies inside the buffer.
        auto target = reinterpret_cast<uintptr_t>(info->lpDescription);
        auto start = reinterpret_cast<uintptr_t>(bytes);
        out.description_offset = static_cast<int64_t>(target - start);
    }
    return out;
}

Result<platform::ServiceStatusProcess> Win32Services::query_service_status(const Handle& h) {
    SERVICE_STATUS_PROCESS st{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(to_sc(h), SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&st),
                              sizeof(st), &needed))
        return last_error();
    static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36);
    platform::ServiceStatusProcess out;
    out.service_type = st.dwServiceType;
    out.current_state = st.dwCurrentState;
    out.controls_accepted = st.dwControlsAccepted;
    out.win32_exit_code = st.dwWin32ExitCode;
    out.service_specific_exit_code = st.dwServiceSpecificExitCode;
    out.check_point = st.dwCheckPoint;
    out.wait_hint = st.dwWaitHint;
    out.process_id = st.dwProcessId;
    out.service_flags = st.dwServiceFlags;
    return out;
}

Status Win32Services::control_service(const Handle& h, uint32_t control) {
    SERVICE_STATUS st{};
    if (!ControlService(to_sc(h), control, &st)) return last_error();
    return {};
}

Status Win32Services::start_service(const Handle& h) {
    if (!StartServiceW(to_sc(h), 0, nullptr)) return last_error();
    return {};
}

Status Win32Services::delete_service(const Handle& h) {
    if (!DeleteService(to_sc(h))) return last_error();
    return {};
}

}  // namespace holvar::win32
