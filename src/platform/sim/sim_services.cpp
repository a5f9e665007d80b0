// The Service Control Manager of the simulated machine: services with their
// stored configuration, description and status, handles with the rights they
// were opened with, deletion that waits for the last handle and the stop, and
// starting a service as a LocalSystem process running its image's program.
#include "platform/sim/sim_services.hpp"

#include <cstring>

#include "platform/sim/names.hpp"
#include "platform/sim/program_service.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr uint32_t kCannotAcceptControl = 1061;    // ERROR_SERVICE_CANNOT_ACCEPT_CTRL
constexpr uint32_t kServiceDisabled = 1058;        // ERROR_SERVICE_DISABLED
constexpr uint32_t kRequestTimeout = 1053;         // ERROR_SERVICE_REQUEST_TIMEOUT
constexpr uint32_t kInvalidServiceControl = 1052;  // ERROR_INVALID_SERVICE_CONTROL
constexpr uint32_t kDuplicateDisplayName = 1078;   // ERROR_DUPLICATE_SERVICE_NAME
constexpr uint32_t kInvalidServiceAccount = 1057;  // ERROR_INVALID_SERVICE_ACCOUNT

constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kManagerAllAccess = 0xF003F;
// What the default service security grants interactive users: query config
// and status, enumerate dependents, interrogate, user-defined controls, read.
constexpr uint32_t kServiceUserRights = 0x1 | 0x4 | 0x8 | 0x80 | 0x100 | READ_CONTROL;
constexpr uint32_t kManagerUserRights =
    0x1 | 0x4 | 0x10 | READ_CONTROL;  // connect, enumerate, lock status

// QUERY_SERVICE_CONFIGW on 64-bit Windows: three DWORDs, five pointers and a DWORD.
constexpr uint32_t kConfigRecordBytes = 64;
constexpr uint32_t kDescriptionRecordBytes = 8;  // SERVICE_DESCRIPTIONW: one pointer

bool is_admin(const Machine::State& s, uint32_t pid) {
    return token_is_admin(s.processes.at(pid).token);
}

// The entries of a multi-string argument, up to its first empty string.
std::vector<std::u16string> multi_string_entries(const std::u16string& text) {
    std::vector<std::u16string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\0', start);
        if (end == std::u16string::npos) end = text.size();
        if (end == start) break;
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::u16string multi_string_of(const std::vector<std::u16string>& entries) {
    std::u16string out;
    for (const auto& e : entries) {
        out += e;
        out.push_back(u'\0');
    }
    return out;
}

uint32_t text_bytes(const std::u16string& text) {
    return static_cast<uint32_t>((text.size() + 1) * 2);
}

bool valid_numbers(uint32_t type, uint32_t start, uint32_t error, bool allow_no_change) {
    auto ok = [&](uint32_t v, uint32_t max) {
        return v <= max || (allow_no_change && v == SERVICE_NO_CHANGE);
    };
    bool type_ok = type == 0x10 || type == 0x20 || (allow_no_change && type == SERVICE_NO_CHANGE);
    // Boot and system start are for drivers only.
    bool start_ok = ok(start, 4) && (start == SERVICE_NO_CHANGE || start >= 2);
    return type_ok && start_ok && ok(error, 3);
}

}  // namespace

Handle SimServices::new_handle(std::u16string service, uint32_t access) {
    Machine::State& s = machine_.state();
    uint64_t raw = s.next_handle;
    s.next_handle += 4;
    s.scm.handles.emplace(raw, ServiceHandleObj{pid_, std::move(service), access});
    return Handle(closer_, HandleKind::service, raw);
}

Status SimServices::manager_of(const Handle& h, uint32_t needed) {
    Machine::State& s = machine_.state();
    if (!h.valid() || h.kind() != HandleKind::service) return win32_error(win32::invalid_handle);
    auto it = s.scm.handles.find(h.raw());
    if (it == s.scm.handles.end() || it->second.pid != pid_ || !it->second.service.empty())
        return win32_error(win32::invalid_handle);
    if ((it->second.access & needed) != needed) return win32_error(win32::access_denied);
    return {};
}

Result<Service*> SimServices::service_of(const Handle& h, uint32_t needed) {
    Machine::State& s = machine_.state();
    settle_services(s);
    if (!h.valid() || h.kind() != HandleKind::service) return win32_error(win32::invalid_handle);
    auto it = s.scm.handles.find(h.raw());
    if (it == s.scm.handles.end() || it->second.pid != pid_ || it->second.service.empty())
        return win32_error(win32::invalid_handle);
    if ((it->second.access & needed) != needed) return win32_error(win32::access_denied);
    auto svc = s.scm.services.find(it->second.service);
    // An open handle keeps a deleted service's record until it is closed.
    if (svc == s.scm.services.end()) return win32_error(win32::invalid_handle);
    return &svc->second;
}

Result<Handle> SimServices::open_sc_manager(uint32_t access) {
    if (auto e = enter("open_sc_manager")) return std::unexpected(*e);
    Machine::State& s = machine_.state();
    if (access & GENERIC_ALL) access |= kManagerAllAccess;
    if ((access & ~kManagerUserRights & kManagerAllAccess) && !is_admin(s, pid_))
        return win32_error(win32::access_denied);
    return new_handle(u"", access);
}

Result<Handle> SimServices::open_service(const Handle& scm, const std::u16string& name,
                                         uint32_t access) {
    if (auto e = enter("open_service")) return std::unexpected(*e);
    if (auto st = manager_of(scm, SC_MANAGER_CONNECT); !st) return std::unexpected(st.error());
    Machine::State& s = machine_.state();
    settle_services(s);
    if (name.empty() || name.size() > 256 || name.find(u'\\') != std::u16string::npos)
        return win32_error(win32::invalid_name);
    std::u16string folded = fold_name(name);
    if (!s.scm.services.count(folded)) return win32_error(win32::service_does_not_exist);
    if (access & GENERIC_ALL) access |= kServiceAllAccess;
    if ((access & ~kServiceUserRights & kServiceAllAccess) && !is_admin(s, pid_))
        return win32_error(win32::access_denied);
    return new_handle(folded, access);
}

Result<Handle> SimServices::create_service(const Handle& scm, const std::u16string& name,
                                           const std::u16string& display_name, uint32_t access,
                                           uint32_t service_type, uint32_t start_type,
                                           uint32_t error_control,
                                           const std::u16string& binary_path,
                                           const std::u16string& dependencies,
                                           const std::u16string& start_name) {
    if (auto e = enter("create_service")) return std::unexpected(*e);
    if (auto st = manager_of(scm, SC_MANAGER_CREATE_SERVICE); !st)
        return std::unexpected(st.error());
    Machine::State& s = machine_.state();
    settle_services(s);
    if (name.empty() || name.size() > 256 || name.find(u'\\') != std::u16string::npos ||
        name.find(u'/') != std::u16string::npos)
        return win32_error(win32::invalid_name);
    if (!valid_numbers(service_type, start_type, error_control, false) || binary_path.empty())
        return win32_error(win32::invalid_parameter);
    std::u16string folded = fold_name(name);
    if (auto it = s.scm.services.find(folded); it != s.scm.services.end())
        return win32_error(it->second.marked_for_delete ? win32::service_marked_for_delete
                                                        : win32::service_exists);
    const std::u16string& shown = display_name.empty() ? name : display_name;
    for (const auto& [n, other] : s.scm.services)
        if (names_equal(other.display_name, shown) || names_equal(n, fold_name(shown)))
            return win32_error(kDuplicateDisplayName);
    Service svc;
    svc.name = name;
    svc.service_type = service_type;
    svc.start_type = start_type;
    svc.error_control = error_control;
    svc.binary_path = binary_path;
    svc.dependencies = multi_string_entries(dependencies);
    svc.account = start_name.empty() ? std::u16string(u"LocalSystem") : start_name;
    svc.display_name = shown;
    s.scm.services.emplace(folded, std::move(svc));
    Handle h = new_handle(folded, access);
    mutated(s);
    return h;
}

Status SimServices::change_service_config(const Handle& h, uint32_t service_type,
                                          uint32_t start_type, uint32_t error_control,
                                          const std::u16string* binary_path,
                                          const std::u16string* dependencies,
                                          const std::u16string* start_name,
                                          const std::u16string* display_name) {
    if (auto e = enter("change_service_config")) return std::unexpected(*e);
    auto svc = service_of(h, SERVICE_CHANGE_CONFIG);
    if (!svc) return std::unexpected(svc.error());
    Service& v = **svc;
    if (v.marked_for_delete) return win32_error(win32::service_marked_for_delete);
    if (!valid_numbers(service_type, start_type, error_control, true) ||
        (binary_path != nullptr && binary_path->empty()))
        return win32_error(win32::invalid_parameter);
    if (start_name != nullptr && start_name->empty()) return win32_error(kInvalidServiceAccount);
    if (service_type != SERVICE_NO_CHANGE) v.service_type = service_type;
    if (start_type != SERVICE_NO_CHANGE) v.start_type = start_type;
    if (error_control != SERVICE_NO_CHANGE) v.error_control = error_control;
    if (binary_path != nullptr) v.binary_path = *binary_path;
    if (dependencies != nullptr) v.dependencies = multi_string_entries(*dependencies);
    if (start_name != nullptr) v.account = *start_name;
    if (display_name != nullptr && !display_name->empty()) v.display_name = *display_name;
    mutated(machine_.state());
    return {};
}

Status SimServices::change_service_description(const Handle& h, const std::u16string* description) {
    if (auto e = enter("change_service_description")) return std::unexpected(*e);
    auto svc = service_of(h, SERVICE_CHANGE_CONFIG);
    if (!svc) return std::unexpected(svc.error());
    if ((*svc)->marked_for_delete) return win32_error(win32::service_marked_for_delete);
    if (description == nullptr) return {};
    (*svc)->description = *description;
    mutated(machine_.state());
    return {};
}

Result<ServiceConfigAnswer> SimServices::query_service_config(const Handle& h,
                                                              uint32_t buffer_bytes) {
    if (auto e = enter("query_service_config")) return std::unexpected(*e);
    auto svc = service_of(h, SERVICE_QUERY_CONFIG);
    if (!svc) return std::unexpected(svc.error());
    const Service& v = **svc;
    std::u16string deps = multi_string_of(v.dependencies);
    ServiceConfigAnswer out;
    out.bytes_needed = kConfigRecordBytes + text_bytes(v.binary_path) +
                       text_bytes(v.load_order_group) + text_bytes(deps) +
                       (v.account ? text_bytes(*v.account) : 0) + text_bytes(v.display_name);
    if (buffer_bytes < out.bytes_needed) return out;
    QueryServiceConfig c;
    c.service_type = v.service_type;
    c.start_type = v.start_type;
    c.error_control = v.error_control;
    c.binary_path = v.binary_path;
    c.load_order_group = v.load_order_group;
    c.dependencies = deps;
    c.service_start_name = v.account;
    c.display_name = v.display_name;
    out.config = std::move(c);
    return out;
}

Result<ServiceDescriptionAnswer> SimServices::query_service_description(const Handle& h,
                                                                        uint32_t buffer_bytes) {
    if (auto e = enter("query_service_description")) return std::unexpected(*e);
    auto svc = service_of(h, SERVICE_QUERY_CONFIG);
    if (!svc) return std::unexpected(svc.error());
    const Service& v = **svc;
    ServiceDescriptionAnswer out;
    out.bytes_needed =
        kDescriptionRecordBytes + (v.description.empty() ? 0 : text_bytes(v.description));
    if (buffer_bytes < out.bytes_needed) return out;
    out.fitted = true;
    out.buffer.assign(buffer_bytes, 0);
    if (!v.description.empty()) {
        out.description_offset = kDescriptionRecordBytes;
        std::memcpy(out.buffer.data() + kDescriptionRecordBytes, v.description.data(),
                    v.description.size() * 2);
    }
    return out;
}

Result<ServiceStatusProcess> SimServices::query_service_status(const Handle& h) {
    if (auto e = enter("query_service_status")) return std::unexpected(*e);
    auto svc = service_of(h, SERVICE_QUERY_STATUS);
    if (!svc) return std::unexpected(svc.error());
    const Service& v = **svc;
    ServiceStatusProcess st;
    st.service_type = v.service_type;
    st.current_state = v.state;
    st.controls_accepted = v.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    st.win32_exit_code = v.win32_exit_code;
    st.service_specific_exit_code = v.service_exit_code;
    st.process_id = v.pid;
    return st;
}

Status SimServices::control_service(const Handle& h, uint32_t control) {
    if (auto e = enter("control_service")) return std::unexpected(*e);
    if (control != SERVICE_CONTROL_STOP) return win32_error(kInvalidServiceControl);
    auto svc = service_of(h, SERVICE_STOP);
    if (!svc) return std::unexpected(svc.error());
    Service& v = **svc;
    if (v.state == SERVICE_STOPPED) return win32_error(win32::service_not_active);
    if (v.state != SERVICE_RUNNING) return win32_error(kCannotAcceptControl);
    service_stop_requested(machine_.state(), v);
    mutated(machine_.state());
    return {};
}

Status SimServices::start_service(const Handle& h) {
    if (auto e = enter("start_service")) return std::unexpected(*e);
    auto svc = service_of(h, SERVICE_START);
    if (!svc) return std::unexpected(svc.error());
    Service& v = **svc;
    if (v.marked_for_delete) return win32_error(win32::service_marked_for_delete);
    if (v.start_type == SERVICE_DISABLED) return win32_error(kServiceDisabled);
    if (v.state != SERVICE_STOPPED) return win32_error(win32::service_already_running);
    auto st = launch_service(machine_.state(), v);
    // A process was started (and, for a silent image, ended again): a change.
    if (st || st.error().is_win32(kRequestTimeout)) mutated(machine_.state());
    return st;
}

Status SimServices::delete_service(const Handle& h) {
    if (auto e = enter("delete_service")) return std::unexpected(*e);
    auto svc = service_of(h, DELETE);
    if (!svc) return std::unexpected(svc.error());
    if ((*svc)->marked_for_delete) return win32_error(win32::service_marked_for_delete);
    (*svc)->marked_for_delete = true;
    mutated(machine_.state());
    return {};
}

void SimServices::close(uint64_t raw) noexcept {
    Machine::State& s = machine_.state();
    auto it = s.scm.handles.find(raw);
    if (it == s.scm.handles.end() || it->second.pid != pid_) return;
    s.scm.handles.erase(it);
    settle_services(s);
}

}  // namespace holvar::sim
