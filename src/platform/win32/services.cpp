#include "platform/win32/services.hpp"

#include <memory>
#include <span>

#include "platform/win32/buffer_words.hpp"
#include "platform/win32/returned_text.hpp"
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

// Where a pointer of a returned record points, from the buffer's start.
std::optional<int64_t> offset_of(const uint8_t* buffer, const wchar_t* p) {
    if (p == nullptr) return std::nullopt;
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p) -
                                reinterpret_cast<uintptr_t>(buffer));
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
    const size_t words = words_for_bytes(buffer_bytes);
    std::unique_ptr<uint64_t[]> storage(new uint64_t[words == 0 ? 1 : words]());
    auto* record = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(storage.get());
    DWORD needed = 0;
    platform::ServiceConfigAnswer out;
    if (!QueryServiceConfigW(to_sc(h), buffer_bytes == 0 ? nullptr : record, buffer_bytes,
                             &needed)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return failure_from(error);
        out.bytes_needed = needed;
        return out;
    }
    if (buffer_bytes < sizeof(QUERY_SERVICE_CONFIGW))
        return platform::invalid_data("service configuration shorter than its record");
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(storage.get()),
                                         buffer_bytes);
    const auto text = [&](const wchar_t* p, bool multi) {
        return text_in_buffer(bytes, offset_of(bytes.data(), p), multi);
    };
    auto binary_path = text(record->lpBinaryPathName, false);
    auto load_order_group = text(record->lpLoadOrderGroup, false);
    auto dependencies = text(record->lpDependencies, true);
    auto start_name = text(record->lpServiceStartName, false);
    auto display_name = text(record->lpDisplayName, false);
    for (const auto* t :
         {&binary_path, &load_order_group, &dependencies, &start_name, &display_name})
        if (!*t) return std::unexpected(t->error());
    platform::QueryServiceConfig c;
    c.service_type = record->dwServiceType;
    c.start_type = record->dwStartType;
    c.error_control = record->dwErrorControl;
    c.binary_path = std::move(*binary_path);
    c.load_order_group = std::move(*load_order_group);
    c.tag_id = record->dwTagId;
    c.dependencies = std::move(*dependencies);
    c.service_start_name = std::move(*start_name);
    c.display_name = std::move(*display_name);
    out.bytes_needed = needed;
    out.config = std::move(c);
    return out;
}

Result<platform::ServiceDescriptionAnswer> Win32Services::query_service_description(
    const Handle& h, uint32_t buffer_bytes) {
    const size_t words = words_for_bytes(buffer_bytes);
    std::unique_ptr<uint64_t[]> storage(new uint64_t[words == 0 ? 1 : words]());
    auto* bytes = reinterpret_cast<LPBYTE>(storage.get());
    DWORD needed = 0;
    platform::ServiceDescriptionAnswer out;
    if (!QueryServiceConfig2W(to_sc(h), SERVICE_CONFIG_DESCRIPTION,
                              buffer_bytes == 0 ? nullptr : bytes, buffer_bytes, &needed)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return failure_from(error);
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
