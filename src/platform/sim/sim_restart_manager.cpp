// The Restart Manager on the simulated machine: a session's registered files
// and the running processes that hold a handle to any of them.
#include "platform/sim/sim_restart_manager.hpp"

#include <set>

#include "platform/sim/process_model.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_processes.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using namespace platform;

namespace {
constexpr uint32_t kRmConsole = 5;
constexpr uint32_t kRmStatusRunning = 1;
constexpr uint32_t kMaxSessions = 64;  // RmStartSession gives 353 past this
}  // namespace

Result<uint32_t> SimRestartManager::rm_start_session() {
    if (auto e = enter("rm_start_session")) return std::unexpected(*e);
    if (sessions_.size() >= kMaxSessions) return win32_error(353);
    uint32_t id = next_session_++;
    sessions_[id] = {};
    return id;
}

Status SimRestartManager::rm_register_resources(uint32_t session,
                                                const std::vector<std::u16string>& files) {
    if (auto e = enter("rm_register_resources")) return std::unexpected(*e);
    auto it = sessions_.find(session);
    if (it == sessions_.end()) return win32_error(win32::invalid_handle);
    it->second.insert(it->second.end(), files.begin(), files.end());
    return {};
}

RmList SimRestartManager::rm_get_list(uint32_t session, uint32_t capacity) {
    RmList out;
    if (auto e = enter("rm_get_list")) {
        out.status = e->win32;
        return out;
    }
    auto it = sessions_.find(session);
    if (it == sessions_.end()) {
        out.status = win32::invalid_handle;
        return out;
    }
    Machine::State& s = machine_.state();
    std::set<NodeId> nodes;
    for (const auto& f : it->second) {
        auto t = resolve_path(s, f, u"C:\\", true);
        if (t && t->kind == Target::Kind::object && t->node) nodes.insert(*t->node);
    }
    std::set<uint32_t> pids;
    for (const auto& [raw, h] : s.handles)
        if (h.type == HandleType::file && nodes.count(h.node) && is_alive(s, h.pid))
            pids.insert(h.pid);
    // A running image is in use by its process, as the Restart Manager reports it.
    for (const auto& [pid, proc] : s.processes)
        if (proc.alive && proc.image_node != 0 && nodes.count(proc.image_node)) pids.insert(pid);
    std::vector<RmProcessInfo> records;
    for (uint32_t pid : pids) {
        RmProcessInfo r;
        r.process_id = pid;
        if (auto d = s.process_model.details.find(pid); d != s.process_model.details.end())
            r.process_start_time = static_cast<uint64_t>(d->second.start_time);
        r.app_name = file_name(s.processes.at(pid).image).value_or(u"");
        if (r.app_name.size() > 255) r.app_name.resize(255);
        r.application_type = kRmConsole;
        r.app_status = kRmStatusRunning;
        r.ts_session_id = 1;
        records.push_back(std::move(r));
    }
    out.proc_info_needed = static_cast<uint32_t>(records.size());
    if (records.size() > capacity) {
        out.status = win32::more_data;
        return out;
    }
    out.records = std::move(records);
    return out;
}

Status SimRestartManager::rm_end_session(uint32_t session) {
    if (auto e = enter("rm_end_session")) return std::unexpected(*e);
    if (sessions_.erase(session) == 0) return win32_error(win32::invalid_handle);
    return {};
}

}  // namespace holvar::sim
