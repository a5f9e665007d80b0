// Process lifecycle, jobs, pipe endpoints and the event clock of the
// simulated machine.
#include "platform/sim/sim_processes.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/sim/call_support.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_pipes.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;

namespace {

// FILETIME of the virtual clock: an arbitrary 2026 origin plus elapsed time.
int64_t filetime_now(const Machine::State& s) {
    return 134100000000000000LL + s.clock.count() / 100;
}

// The earliest pending event: by due time, then by scheduling order.
std::optional<size_t> earliest(const Machine::State& s) {
    const auto& ev = s.process_model.events;
    std::optional<size_t> best;
    for (size_t i = 0; i < ev.size(); ++i) {
        if (!best || ev[i].due_ns < ev[*best].due_ns ||
            (ev[i].due_ns == ev[*best].due_ns && ev[i].seq < ev[*best].seq))
            best = i;
    }
    return best;
}

void fire(Machine::State& s, Event e) {
    if (!is_alive(s, e.pid)) return;
    if (e.action == "exit") {
        json p = json::parse(e.payload, nullptr, false);
        uint32_t code = p.is_object() ? p.value("code", 0u) : 0u;
        end_process(s, e.pid, code);
        return;
    }
    auto d = s.process_model.details.find(e.pid);
    if (d == s.process_model.details.end()) return;
    const ProgramKind* kind =
        find_program_kind(std::string(d->second.program.begin(), d->second.program.end()));
    if (kind == nullptr || kind->on_event == nullptr) return;
    json description = json::parse(d->second.description, nullptr, false);
    kind->on_event(s, e.pid, e, description);
}

// Fires the earliest event if it is due by `limit`; false when none is.
bool fire_next(Machine::State& s, int64_t limit_ns) {
    auto i = earliest(s);
    if (!i || s.process_model.events[*i].due_ns > limit_ns) return false;
    Event e = s.process_model.events[*i];
    s.process_model.events.erase(s.process_model.events.begin() + static_cast<long>(*i));
    if (e.due_ns > s.clock.count()) s.clock = Instant(e.due_ns);
    fire(s, std::move(e));
    return true;
}

std::u16string to_u16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

bool is_alive(const Machine::State& s, uint32_t pid) {
    auto it = s.processes.find(pid);
    return it != s.processes.end() && it->second.alive;
}

Result<uint32_t> start_process(Machine::State& s, const StartSpec& spec) {
    std::optional<json> description = image_program(s, spec.image);
    const ProgramKind* kind = nullptr;
    if (description) {
        if (!description->is_object() || !description->contains("kind") ||
            !(*description)["kind"].is_string())
            return win32_error(193);
        kind = find_program_kind((*description)["kind"].get<std::string>());
        if (kind == nullptr) return win32_error(193);
    }
    uint32_t pid = s.next_pid;
    s.next_pid += 4;
    Process proc{spec.image, spec.token, spec.current_directory, true, 0, 0};
    // The image is mapped while the process runs (see Process::image_node).
    auto image = resolve_path(s, spec.image, u"C:\\", true);
    if (image && image->kind == Target::Kind::object && image->node &&
        s.live.nodes.at(*image->node).kind == NodeKind::file) {
        proc.image_node = *image->node;
        ++s.live.nodes.edit(proc.image_node).open_handles;
    }
    s.processes[pid] = std::move(proc);
    ProcessDetails d;
    d.parent = spec.parent;
    d.command_line = spec.command_line;
    if (spec.environment) {
        d.environment = *spec.environment;
        d.environment_given = true;
    }
    d.job = spec.job;
    d.start_time = filetime_now(s);
    if (spec.token.user == system_token().user)
        d.enabled_privileges = spec.token.privileges;  // LocalSystem runs with them enabled
    if (kind != nullptr) {
        d.program = to_u16(kind->name);
        d.description = description->dump();
    }
    s.process_model.details[pid] = std::move(d);
    if (spec.job != 0) s.process_model.jobs[spec.job].members.insert(pid);
    if (kind != nullptr) {
        kind->start(s, pid, *description);
    } else if (spec.plain_image_exits) {
        exit_after(s, pid, 0, 0);
    }
    return pid;
}

void end_process(Machine::State& s, uint32_t pid, uint32_t exit_code) {
    auto it = s.processes.find(pid);
    if (it == s.processes.end() || !it->second.alive) return;
    for (auto& [name, m] : s.mutexes) {
        if (m.owner != pid) continue;
        m.owner = 0;
        m.recursion = 0;
        m.abandoned = true;
    }
    it->second.alive = false;
    it->second.exit_code = exit_code;
    auto& pipes = s.process_model.pipes;
    for (auto p = pipes.begin(); p != pipes.end();)
        p = p->second.server == pid ? pipes.erase(p) : std::next(p);
    auto& ev = s.process_model.events;
    ev.erase(std::remove_if(ev.begin(), ev.end(), [&](const Event& e) { return e.pid == pid; }),
             ev.end());
    // Its handles close last: closing a kill-on-close job may end other processes.
    std::vector<uint64_t> raws;
    for (const auto& [raw, h] : s.handles)
        if (h.pid == pid) raws.push_back(raw);
    for (uint64_t raw : raws) close_raw_handle(s, raw);
    if (NodeId mapped = std::exchange(it->second.image_node, 0); mapped != 0) {
        --s.live.nodes.edit(mapped).open_handles;
        collect_if_orphan(s, mapped);
    }
}

void schedule_event(Machine::State& s, Event e) {
    e.seq = s.process_model.next_event++;
    s.process_model.events.push_back(std::move(e));
}

Instant bounded_target(Machine::State& s, Instant target) {
    if (target.count() <= s.process_model.clock_bound_ns) return target;
    s.process_model.clock_bound_hit = true;
    return Instant(s.process_model.clock_bound_ns);
}

void advance_clock_to(Machine::State& s, Instant target) {
    target = bounded_target(s, target);
    while (fire_next(s, target.count())) {
    }
    if (target > s.clock) s.clock = target;
}

Result<uint32_t> wait_for_process(Machine::State& s, uint32_t pid, uint32_t timeout_ms) {
    const bool forever = timeout_ms == INFINITE;
    const int64_t wanted = forever ? std::numeric_limits<int64_t>::max()
                                   : s.clock.count() + int64_t{timeout_ms} * 1'000'000;
    // A bounded task's wait ends at the task's bound at the latest.
    const int64_t deadline = std::min(wanted, s.process_model.clock_bound_ns);
    for (;;) {
        // What is due now happens before the process is looked at.
        while (fire_next(s, s.clock.count())) {
        }
        if (!is_alive(s, pid)) return uint32_t{WAIT_OBJECT_0};
        if (!fire_next(s, deadline)) break;
    }
    if (deadline < wanted) {
        s.process_model.clock_bound_hit = true;
    } else if (forever) {
        return fail(ErrorKind::other, "wait would never end");
    }
    s.clock = Instant(deadline);
    return uint32_t{WAIT_TIMEOUT};
}

void terminate_job(Machine::State& s, uint32_t job, uint32_t exit_code) {
    auto it = s.process_model.jobs.find(job);
    if (it == s.process_model.jobs.end()) return;
    std::vector<uint32_t> members(it->second.members.begin(), it->second.members.end());
    for (uint32_t pid : members) end_process(s, pid, exit_code);
}

void release_job_handle(Machine::State& s, uint32_t job) {
    auto it = s.process_model.jobs.find(job);
    if (it == s.process_model.jobs.end()) return;
    if (it->second.handles > 0) --it->second.handles;
    if (it->second.handles != 0) return;
    if (it->second.kill_on_close) terminate_job(s, job, 0);
    it = s.process_model.jobs.find(job);
    if (it == s.process_model.jobs.end()) return;
    bool any_alive = std::any_of(it->second.members.begin(), it->second.members.end(),
                                 [&](uint32_t pid) { return is_alive(s, pid); });
    if (!any_alive) s.process_model.jobs.erase(it);
}

void serve_pipe(Machine::State& s, uint32_t server, const std::u16string& name, uint32_t instances,
                bool deny) {
    PipeEndpoint p;
    p.server = server;
    p.instances = instances;
    p.deny = deny;
    s.process_model.pipes[fold_name(name)] = p;
}

void on_process_object_closed(Machine::State& s, uint64_t raw, const HandleObj& h) {
    switch (h.type) {
        case HandleType::job:
            release_job_handle(s, h.target);
            break;
        case HandleType::snapshot:
            s.process_model.snapshots.erase(raw);
            s.process_model.snapshot_cursor.erase(raw);
            break;
        case HandleType::pipe: {
            auto p = s.process_model.pipes.find(h.pipe);
            if (p != s.process_model.pipes.end() && p->second.server == h.target &&
                p->second.connected > 0)
                --p->second.connected;
            pipe_connection_closed(s, raw);
            break;
        }
        default:
            break;
    }
}

void clear_process_model(Machine::State& s) {
    s.process_model = ProcessModel{};
}

std::string process_model_to_json(const Machine::State& s) {
    const ProcessModel& m = s.process_model;
    auto j16 = [](const std::u16string& t) { return std::vector<uint16_t>(t.begin(), t.end()); };
    json details = json::array();
    for (const auto& [pid, d] : m.details) {
        if (!s.processes.count(pid)) continue;  // gone with a restart
        json env = json::array();
        for (const auto& e : d.environment) env.push_back(j16(e));
        json privs = json::array();
        for (const auto& p : d.enabled_privileges) privs.push_back(j16(p));
        details.push_back({{"pid", pid},
                           {"parent", d.parent},
                           {"command_line", j16(d.command_line)},
                           {"environment", env},
                           {"environment_given", d.environment_given},
                           {"program", j16(d.program)},
                           {"description", d.description},
                           {"enabled_privileges", privs},
                           {"job", d.job},
                           {"start_time", d.start_time}});
    }
    json jobs = json::array();
    for (const auto& [id, jb] : m.jobs)
        jobs.push_back({{"id", id}, {"kill_on_close", jb.kill_on_close}, {"members", jb.members}});
    json pipes = json::array();
    for (const auto& [name, p] : m.pipes)
        pipes.push_back({{"name", j16(name)},
                         {"server", p.server},
                         {"instances", p.instances},
                         {"deny", p.deny}});
    json events = json::array();
    for (const Event& e : m.events)
        events.push_back({{"due_ns", e.due_ns},
                          {"seq", e.seq},
                          {"pid", e.pid},
                          {"action", e.action},
                          {"payload", e.payload}});
    json out = {{"details", details}, {"jobs", jobs},     {"next_job", m.next_job},
                {"pipes", pipes},     {"events", events}, {"next_event", m.next_event}};
    return out.dump();
}

void process_model_from_json(Machine::State& s, const std::string& text) {
    json j = json::parse(text);  // throws on malformed text; the loader reports it
    ProcessModel m;
    auto u16 = [](const json& a) {
        auto v = a.get<std::vector<uint16_t>>();
        return std::u16string(v.begin(), v.end());
    };
    for (const auto& jd : j.at("details")) {
        ProcessDetails d;
        d.parent = jd.at("parent").get<uint32_t>();
        d.command_line = u16(jd.at("command_line"));
        for (const auto& e : jd.at("environment")) d.environment.push_back(u16(e));
        d.environment_given = jd.at("environment_given").get<bool>();
        d.program = u16(jd.at("program"));
        d.description = jd.at("description").get<std::string>();
        for (const auto& p : jd.at("enabled_privileges")) d.enabled_privileges.push_back(u16(p));
        d.job = jd.at("job").get<uint32_t>();
        d.start_time = jd.at("start_time").get<int64_t>();
        uint32_t pid = jd.at("pid").get<uint32_t>();
        if (!s.processes.count(pid)) throw std::runtime_error("details of an unknown process");
        m.details[pid] = std::move(d);
    }
    for (const auto& jj : j.at("jobs")) {
        Job jb;
        jb.kill_on_close = jj.at("kill_on_close").get<bool>();
        jb.members = jj.at("members").get<std::set<uint32_t>>();
        m.jobs[jj.at("id").get<uint32_t>()] = std::move(jb);
    }
    m.next_job = j.at("next_job").get<uint32_t>();
    for (const auto& jp : j.at("pipes")) {
        PipeEndpoint p;
        p.server = jp.at("server").get<uint32_t>();
        p.instances = jp.at("instances").get<uint32_t>();
        p.deny = jp.at("deny").get<bool>();
        if (!is_alive(s, p.server)) throw std::runtime_error("pipe of an ended process");
        m.pipes[u16(jp.at("name"))] = p;
    }
    for (const auto& je : j.at("events")) {
        Event e;
        e.due_ns = je.at("due_ns").get<int64_t>();
        e.seq = je.at("seq").get<uint64_t>();
        e.pid = je.at("pid").get<uint32_t>();
        e.action = je.at("action").get<std::string>();
        e.payload = je.at("payload").get<std::string>();
        m.events.push_back(std::move(e));
    }
    m.next_event = j.at("next_event").get<uint64_t>();
    s.process_model = std::move(m);
}

}  // namespace holvar::sim
