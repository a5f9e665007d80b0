// Toolhelp snapshots, OpenProcess with its access check, image names,
// termination, exit codes, waits on processes, the Windows directory.
#include <algorithm>

#include "platform/sim/process_model.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_processes.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr uint32_t kMaxExeName = 259;  // szExeFile holds MAX_PATH units with its NUL

// Rights an unprivileged opener gets on a process that is not its own.
constexpr uint32_t kLimited = PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;
// What the default DACL of a LocalSystem process grants Administrators.
constexpr uint32_t kAdminOnSystem =
    PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION | READ_CONTROL | SYNCHRONIZE;

bool has_enabled(const Machine::State& s, uint32_t pid, std::u16string_view privilege) {
    auto d = s.process_model.details.find(pid);
    if (d == s.process_model.details.end()) return false;
    const auto& p = d->second.enabled_privileges;
    return std::find(p.begin(), p.end(), privilege) != p.end();
}

// A process object lives while it runs or while a handle refers to it.
bool process_object_exists(const Machine::State& s, uint32_t pid) {
    auto it = s.processes.find(pid);
    if (it == s.processes.end()) return false;
    if (it->second.alive) return true;
    return std::any_of(s.handles.begin(), s.handles.end(), [&](const auto& kv) {
        return (kv.second.type == HandleType::process || kv.second.type == HandleType::thread) &&
               kv.second.target == pid;
    });
}

HandleObj* process_handle(const Caller& c, const Handle& h) {
    HandleObj* obj = find_handle(c, h);
    return obj != nullptr && obj->type == HandleType::process ? obj : nullptr;
}

std::u16string exe_name(const std::u16string& image) {
    size_t cut = image.find_last_of(u"\\/");
    std::u16string name = cut == std::u16string::npos ? image : image.substr(cut + 1);
    if (name.size() > kMaxExeName) name.resize(kMaxExeName);
    return name;
}

}  // namespace

bool process_access_allowed(const Machine::State& s, uint32_t caller, uint32_t target,
                            uint32_t desired) {
    const Token& me = s.processes.at(caller).token;
    const Token& them = s.processes.at(target).token;
    if (caller == target || me.user == system_token().user ||
        has_enabled(s, caller, u"SeDebugPrivilege"))
        return true;
    if (them.user == me.user && (me.elevated || !them.elevated)) return true;
    if (me.elevated) {
        if (them.user == system_token().user || target == kSystemPid)
            return (desired & ~kAdminOnSystem) == 0;
        return true;
    }
    return (desired & ~kLimited) == 0;
}

Result<Handle> sim_create_toolhelp32_snapshot(Caller& c, uint32_t flags, uint32_t pid) {
    (void)pid;  // only used with module snapshots
    if (!(flags & TH32CS_SNAPPROCESS)) return win32_error(win32::invalid_parameter);
    std::vector<ProcessEntry32> entries;
    entries.push_back(ProcessEntry32{0, 0, u"[System Process]"});
    for (const auto& [id, p] : c.s.processes) {
        if (!p.alive) continue;
        uint32_t parent = 0;
        if (auto d = c.s.process_model.details.find(id); d != c.s.process_model.details.end())
            parent = d->second.parent;
        entries.push_back(ProcessEntry32{id, parent, exe_name(p.image)});
    }
    HandleObj h;
    h.type = HandleType::snapshot;
    h.access = 0x1F0FFF;
    Handle handle = make_handle(c, std::move(h));
    c.s.process_model.snapshots[handle.raw()] = std::move(entries);
    c.s.process_model.snapshot_cursor[handle.raw()] = 0;
    return handle;
}

Result<ProcessEntry32> sim_process32_next(Caller& c, const Handle& h, bool first) {
    HandleObj* obj = find_handle(c, h);
    if (obj == nullptr || obj->type != HandleType::snapshot)
        return win32_error(win32::invalid_handle);
    const auto& entries = c.s.process_model.snapshots.at(h.raw());
    size_t& cursor = c.s.process_model.snapshot_cursor.at(h.raw());
    if (first) cursor = 0;
    if (cursor >= entries.size()) return win32_error(win32::no_more_files);
    return entries[cursor++];
}

Result<Handle> sim_open_process(Caller& c, uint32_t access, uint32_t pid) {
    if (pid == 0 || !process_object_exists(c.s, pid)) return win32_error(win32::invalid_parameter);
    if (!process_access_allowed(c.s, c.pid, pid, access)) return win32_error(win32::access_denied);
    HandleObj h;
    h.type = HandleType::process;
    h.target = pid;
    h.access = access;
    return make_handle(c, std::move(h));
}

Result<std::u16string> sim_query_full_process_image_name(Caller& c, const Handle& h, uint32_t flags,
                                                         uint32_t units) {
    HandleObj* obj = process_handle(c, h);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & (PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION)))
        return win32_error(win32::access_denied);
    std::u16string image = c.s.processes.at(obj->target).image;
    if (flags == 1) {  // PROCESS_NAME_NATIVE: the device form of the volume
        if (image.size() >= 2 && image[1] == u':')
            image = u"\\Device\\HarddiskVolume3" + image.substr(2);
    } else if (flags != 0) {
        return win32_error(win32::invalid_parameter);
    }
    if (image.size() >= units) return win32_error(win32::insufficient_buffer);
    return image;
}

Status sim_terminate_process(Caller& c, const Handle& h, uint32_t exit_code) {
    HandleObj* obj = process_handle(c, h);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & PROCESS_TERMINATE)) return win32_error(win32::access_denied);
    // Terminating a process that has already ended is refused, as Windows does.
    if (!is_alive(c.s, obj->target)) return win32_error(win32::access_denied);
    end_process(c.s, obj->target, exit_code);
    mutated(c.s);
    return {};
}

Result<uint32_t> sim_get_exit_code_process(Caller& c, const Handle& h) {
    HandleObj* obj = process_handle(c, h);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & (PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION)))
        return win32_error(win32::access_denied);
    const Process& p = c.s.processes.at(obj->target);
    return p.alive ? STILL_ACTIVE : p.exit_code;
}

Result<SizedText> sim_get_system_windows_directory(Caller& c, uint32_t units) {
    (void)c;
    const std::u16string dir = u"C:\\Windows";
    if (units <= dir.size()) return SizedText{static_cast<uint32_t>(dir.size() + 1), u""};
    return SizedText{static_cast<uint32_t>(dir.size()), dir};
}

Result<uint32_t> sim_wait_for_process_handle(Caller& c, const HandleObj& h, uint32_t timeout_ms) {
    if (!(h.access & SYNCHRONIZE)) return win32_error(win32::access_denied);
    return wait_for_process(c.s, h.target, timeout_ms);
}

}  // namespace holvar::sim
