// ProcessOs: the OS boundary of one simulated process. Every call is counted,
// may be failed by an injected fault, and then answered by the machine.
#include <algorithm>
#include <limits>
#include <memory>

#include "platform/sim/call_support.hpp"
#include "platform/sim/contract_capture.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/sddl.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_pipes.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_registry.hpp"
#include "platform/sim/sim_restart_manager.hpp"
#include "platform/sim/sim_services.hpp"

namespace holvar::sim {

using namespace platform;

struct ProcessOs::Impl final : Files, Security, Sync, Clock, Processes, HandleCloser {
    Machine& machine;
    uint32_t pid;
    SimServices services{machine, pid, *this};
    SimRegistry registry{machine, pid, *this};
    SimRestartManager restart_manager{machine, pid, *this};
    SimPipes pipes{machine, pid, *this};
    Os os{*this, *this, *this, *this, *this, services, registry, restart_manager, pipes};

    Impl(Machine& m, uint32_t p) : machine(m), pid(p) {}

    Caller caller() { return Caller{machine.state(), pid, *this}; }
    // Counts the call; an injected fault, or a call from a process that has
    // ended, fails it.
    std::optional<Error> enter(std::string_view name) {
        auto& s = machine.state();
        if (auto fault = begin_call(s, name)) return fault;
        auto it = s.processes.find(pid);
        if (it == s.processes.end() || !it->second.alive)
            return Error{ErrorKind::win32, win32::invalid_handle, "win32"};
        return std::nullopt;
    }

    // ---- Files
    Result<Handle> create_file(const std::u16string& path, uint32_t access, uint32_t share,
                               uint32_t disposition, uint32_t flags,
                               const SecurityDescriptor* sd) override {
        if (auto e = enter("create_file")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_file(c, path, access, share, disposition, flags, sd);
    }
    Result<FileBasicInfo> get_file_basic_info(const Handle& h) override {
        if (auto e = enter("get_file_basic_info")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_file_basic_info(c, h);
    }
    Result<FileIdInfo> get_file_id_info(const Handle& h) override {
        if (auto e = enter("get_file_id_info")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_file_id_info(c, h);
    }
    Result<ByHandleFileInformation> get_file_information_by_handle(const Handle& h) override {
        if (auto e = enter("get_file_information_by_handle")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_file_information_by_handle(c, h);
    }
    Result<FinalPathName> get_final_path_name_by_handle(const Handle& h, uint32_t units,
                                                        uint32_t flags) override {
        if (auto e = enter("get_final_path_name_by_handle")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_final_path_name(c, h, units, flags);
    }
    Result<uint32_t> write_file(const Handle& h, std::span<const uint8_t> bytes) override {
        if (auto e = enter("write_file")) return std::unexpected(*e);
        auto c = caller();
        return sim_write_file(c, h, bytes);
    }
    Result<uint32_t> read_file(const Handle& h, std::span<uint8_t> buffer) override {
        if (auto e = enter("read_file")) return std::unexpected(*e);
        auto c = caller();
        return sim_read_file(c, h, buffer);
    }
    Status flush_file_buffers(const Handle& h) override {
        if (auto e = enter("flush_file_buffers")) return std::unexpected(*e);
        auto c = caller();
        return sim_flush_file_buffers(c, h);
    }
    Status move_file_ex(const std::u16string& from, const std::u16string* to,
                        uint32_t flags) override {
        if (auto e = enter("move_file_ex")) return std::unexpected(*e);
        auto c = caller();
        Status moved = sim_move_file_ex(c, from, to, flags);
        if (moved && to != nullptr)
            capture_contract_file(machine, machine.state().processes.at(pid).image, *to);
        return moved;
    }
    Status create_directory(const std::u16string& path, const SecurityDescriptor* sd) override {
        if (auto e = enter("create_directory")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_directory(c, path, sd);
    }
    Status set_file_rename_info_ex(const Handle& h, const std::u16string& target,
                                   uint32_t flags) override {
        if (auto e = enter("set_file_rename_info_ex")) return std::unexpected(*e);
        auto c = caller();
        return sim_set_rename_info_ex(c, h, target, flags);
    }
    Status set_file_disposition_info_ex(const Handle& h, uint32_t flags) override {
        if (auto e = enter("set_file_disposition_info_ex")) return std::unexpected(*e);
        auto c = caller();
        return sim_set_disposition_info_ex(c, h, flags);
    }
    Status create_hard_link(const std::u16string& link, const std::u16string& existing) override {
        if (auto e = enter("create_hard_link")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_hard_link(c, link, existing);
    }
    Result<std::vector<FindData>> find_files(const std::u16string& pattern) override {
        if (auto e = enter("find_files")) return std::unexpected(*e);
        auto c = caller();
        return sim_find_files(c, pattern);
    }
    Result<std::u16string> get_volume_path_name(const std::u16string& path,
                                                uint32_t units) override {
        if (auto e = enter("get_volume_path_name")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_volume_path_name(c, path, units);
    }
    Result<uint32_t> get_volume_file_system_flags(const std::u16string& root) override {
        if (auto e = enter("get_volume_file_system_flags")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_volume_file_system_flags(c, root);
    }
    Result<std::u16string> get_full_path_name(const std::u16string& path) override {
        if (auto e = enter("get_full_path_name")) return std::unexpected(*e);
        return full_path_name(path, machine.state().processes.at(pid).current_directory);
    }

    // ---- Security
    Result<SecurityDescriptor> get_security_info(const Handle& h, uint32_t object_type,
                                                 uint32_t info) override {
        if (auto e = enter("get_security_info")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_security_info(c, h, object_type, info);
    }
    Result<Sid> create_well_known_sid(uint32_t type) override {
        if (auto e = enter("create_well_known_sid")) return std::unexpected(*e);
        switch (type) {
            case WinWorldSid:
                return everyone_sid();
            case WinAuthenticatedUserSid:
                return authenticated_users_sid();
            case WinLocalSystemSid:
                return system_sid();
            case WinBuiltinAdministratorsSid:
                return administrators_sid();
            case WinBuiltinUsersSid:
                return users_sid();
            default:
                return win32_error(win32::invalid_parameter);
        }
    }
    Result<Sid> convert_string_sid_to_sid(const std::u16string& text) override {
        if (auto e = enter("convert_string_sid_to_sid")) return std::unexpected(*e);
        return parse_sddl_sid(text);
    }
    bool equal_sid(const Sid& a, const Sid& b) override {
        if (enter("equal_sid")) return false;
        return sid_is_valid(a.bytes) && sid_is_valid(b.bytes) && a == b;
    }
    Result<SecurityDescriptor> convert_sddl_to_security_descriptor(const std::u16string& sddl,
                                                                   uint32_t revision) override {
        if (auto e = enter("convert_sddl_to_security_descriptor")) return std::unexpected(*e);
        constexpr uint32_t kUnknownRevision = 1305;
        if (revision != SDDL_REVISION_1) return win32_error(kUnknownRevision);
        auto parts = parse_sddl(sddl);
        if (!parts) return std::unexpected(parts.error());
        return encode_security_descriptor(*parts);
    }

    Result<Handle> open_process_token(const Handle* process, uint32_t access) override {
        if (auto e = enter("open_process_token")) return std::unexpected(*e);
        auto c = caller();
        return sim_open_process_token(c, process, access);
    }
    Result<TokenInformation> get_token_information(const Handle& token, uint32_t info_class,
                                                   uint32_t buffer_bytes) override {
        if (auto e = enter("get_token_information")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_token_information(c, token, info_class, buffer_bytes);
    }
    Result<uint64_t> lookup_privilege_value(const std::u16string& name) override {
        if (auto e = enter("lookup_privilege_value")) return std::unexpected(*e);
        auto c = caller();
        return sim_lookup_privilege_value(c, name);
    }
    Result<uint32_t> adjust_token_privileges(const Handle& token, uint64_t luid,
                                             uint32_t attributes) override {
        if (auto e = enter("adjust_token_privileges")) return std::unexpected(*e);
        auto c = caller();
        return sim_adjust_token_privileges(c, token, luid, attributes);
    }

    // ---- Sync
    Result<CreatedMutex> create_mutex(const std::u16string& name, bool initial_owner) override {
        if (auto e = enter("create_mutex")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_mutex(c, name, initial_owner);
    }
    Result<uint32_t> wait_for_single_object(const Handle& h, uint32_t timeout_ms) override {
        if (auto e = enter("wait_for_single_object")) return std::unexpected(*e);
        auto c = caller();
        return sim_wait_for_single_object(c, h, timeout_ms);
    }

    // ---- Clock
    Instant now() override {
        ++machine.state().boundary_calls;
        return machine.now();
    }
    void sleep_for(Duration d) override {
        ++machine.state().boundary_calls;
        machine.advance(d);
    }
    // The task runs at once on this thread; what is bounded is the virtual
    // time it spends. The clock may not pass start + limit while it runs (nor
    // the bound of an enclosing task); a task that wants to go further finds
    // the clock stopped there and runs on without time passing, as an
    // abandoned worker does while its caller has moved on (machine.hpp).
    bool run_bounded(std::function<void()> task, Duration limit) override {
        auto& s = machine.state();
        ++s.boundary_calls;
        ProcessModel& pm = s.process_model;
        const int64_t start = s.clock.count();
        const int64_t lim = std::max<int64_t>(0, limit.count());
        const int64_t wanted = lim >= std::numeric_limits<int64_t>::max() - start
                                   ? std::numeric_limits<int64_t>::max()
                                   : start + lim;
        const int64_t outer_bound = pm.clock_bound_ns;
        const bool outer_hit = pm.clock_bound_hit;
        const int64_t bound = std::min(outer_bound, wanted);
        pm.clock_bound_ns = bound;
        pm.clock_bound_hit = false;
        // Restored on every path, a crash unwinding through the task included.
        struct Restore {
            ProcessModel& pm;
            int64_t outer_bound;
            bool outer_hit;
            int64_t bound;
            ~Restore() {
                // Stopping at the enclosing task's own bound overran that one too.
                const bool stopped_at_outer = pm.clock_bound_hit && bound == outer_bound;
                pm.clock_bound_ns = outer_bound;
                pm.clock_bound_hit = outer_hit || stopped_at_outer;
            }
        };
        bool hit = false;
        {
            Restore restore{pm, outer_bound, outer_hit, bound};
            task();
            hit = pm.clock_bound_hit;
        }
        return !hit;
    }

    // ---- Processes
    Result<std::u16string> get_module_file_name() override {
        if (auto e = enter("get_module_file_name")) return std::unexpected(*e);
        return machine.state().processes.at(pid).image;
    }
    uint32_t get_current_process_id() override {
        ++machine.state().boundary_calls;
        return pid;
    }
    Result<Handle> create_toolhelp32_snapshot(uint32_t flags, uint32_t target) override {
        if (auto e = enter("create_toolhelp32_snapshot")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_toolhelp32_snapshot(c, flags, target);
    }
    Result<ProcessEntry32> process32_first(const Handle& snapshot) override {
        if (auto e = enter("process32_first")) return std::unexpected(*e);
        auto c = caller();
        return sim_process32_next(c, snapshot, true);
    }
    Result<ProcessEntry32> process32_next(const Handle& snapshot) override {
        if (auto e = enter("process32_next")) return std::unexpected(*e);
        auto c = caller();
        return sim_process32_next(c, snapshot, false);
    }
    Result<Handle> open_process(uint32_t access, bool inherit, uint32_t target) override {
        (void)inherit;  // the simulated machine starts no child that inherits handles
        if (auto e = enter("open_process")) return std::unexpected(*e);
        auto c = caller();
        return sim_open_process(c, access, target);
    }
    Result<std::u16string> query_full_process_image_name(const Handle& process, uint32_t flags,
                                                         uint32_t units) override {
        if (auto e = enter("query_full_process_image_name")) return std::unexpected(*e);
        auto c = caller();
        return sim_query_full_process_image_name(c, process, flags, units);
    }
    Status terminate_process(const Handle& process, uint32_t exit_code) override {
        if (auto e = enter("terminate_process")) return std::unexpected(*e);
        auto c = caller();
        return sim_terminate_process(c, process, exit_code);
    }
    Result<uint32_t> get_exit_code_process(const Handle& process) override {
        if (auto e = enter("get_exit_code_process")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_exit_code_process(c, process);
    }
    Result<SizedText> get_system_windows_directory(uint32_t units) override {
        if (auto e = enter("get_system_windows_directory")) return std::unexpected(*e);
        auto c = caller();
        return sim_get_system_windows_directory(c, units);
    }
    Result<Handle> create_job_object() override {
        if (auto e = enter("create_job_object")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_job_object(c);
    }
    Status set_job_extended_limit(const Handle& job, uint32_t limit_flags) override {
        if (auto e = enter("set_job_extended_limit")) return std::unexpected(*e);
        auto c = caller();
        return sim_set_job_extended_limit(c, job, limit_flags);
    }
    Status terminate_job_object(const Handle& job, uint32_t exit_code) override {
        if (auto e = enter("terminate_job_object")) return std::unexpected(*e);
        auto c = caller();
        return sim_terminate_job_object(c, job, exit_code);
    }
    Result<CreatedProcess> create_process(const CreateProcessRequest& request) override {
        if (auto e = enter("create_process")) return std::unexpected(*e);
        auto c = caller();
        return sim_create_process(c, request);
    }

    // ---- HandleCloser: a handle of this process; after a crash, or once the
    // process has ended, it is already gone and closing it does nothing.
    void close_handle(HandleKind kind, uint64_t raw) noexcept override {
        auto& s = machine.state();
        if (s.frozen) return;
        if (kind == HandleKind::service) return services.close(raw);
        if (kind == HandleKind::registry_key) return registry.close(raw);
        auto it = s.handles.find(raw);
        if (it == s.handles.end() || it->second.pid != pid) return;
        close_raw_handle(s, raw);
    }
};

ProcessOs::ProcessOs(Machine& machine, uint32_t pid)
    : impl_(std::make_unique<Impl>(machine, pid)) {}
ProcessOs::~ProcessOs() = default;
platform::Os& ProcessOs::os() {
    return impl_->os;
}
uint32_t ProcessOs::pid() const {
    return impl_->pid;
}

}  // namespace holvar::sim
