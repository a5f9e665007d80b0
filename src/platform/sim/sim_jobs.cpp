// Job objects and CreateProcessW on the simulated machine.
#include "platform/sim/process_model.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr uint32_t kJobAllAccess = 0x1F003F;
constexpr uint32_t kJobAssignProcess = 0x1;
constexpr uint32_t kJobSetAttributes = 0x2;
constexpr uint32_t kJobTerminate = 0x8;
constexpr uint32_t kBadExeFormat = 193;

HandleObj* job_handle(const Caller& c, const Handle& h) {
    HandleObj* obj = find_handle(c, h);
    return obj != nullptr && obj->type == HandleType::job ? obj : nullptr;
}

// "A=1\0B=2\0\0": the variables of a Unicode environment block. A block
// without its final double NUL is refused, as the loader would read past it.
std::optional<std::vector<std::u16string>> parse_environment(const std::u16string& block) {
    std::vector<std::u16string> vars;
    size_t at = 0;
    for (;;) {
        size_t nul = block.find(u'\0', at);
        if (nul == std::u16string::npos) return std::nullopt;
        if (nul == at) return vars;
        vars.push_back(block.substr(at, nul - at));
        at = nul + 1;
    }
}

}  // namespace

Result<Handle> sim_create_job_object(Caller& c) {
    uint32_t id = c.s.process_model.next_job++;
    c.s.process_model.jobs[id].handles = 1;
    HandleObj h;
    h.type = HandleType::job;
    h.target = id;
    h.access = kJobAllAccess;
    return make_handle(c, std::move(h));
}

Status sim_set_job_extended_limit(Caller& c, const Handle& job, uint32_t limit_flags) {
    HandleObj* obj = job_handle(c, job);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & kJobSetAttributes)) return win32_error(win32::access_denied);
    c.s.process_model.jobs.at(obj->target).kill_on_close =
        (limit_flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0;
    return {};
}

Status sim_terminate_job_object(Caller& c, const Handle& job, uint32_t exit_code) {
    HandleObj* obj = job_handle(c, job);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & kJobTerminate)) return win32_error(win32::access_denied);
    terminate_job(c.s, obj->target, exit_code);
    mutated(c.s);
    return {};
}

Result<CreatedProcess> sim_create_process(Caller& c, const CreateProcessRequest& r) {
    Machine::State& s = c.s;
    const Process& self = c.process();
    if (r.application_name.find(u'\0') != std::u16string::npos ||
        r.current_directory.find(u'\0') != std::u16string::npos)
        return win32_error(win32::invalid_parameter);
    // The image: a file the caller may execute.
    auto t = resolve_path(s, r.application_name, self.current_directory, true);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object || !t->node) return win32_error(win32::file_not_found);
    const Node& image = s.live.nodes.at(*t->node);
    if (image.kind != NodeKind::file) return win32_error(win32::access_denied);
    if (!access_allowed(s, self.token, *t->node, t->parent, FILE_EXECUTE | FILE_READ_DATA))
        return win32_error(win32::access_denied);
    // The working directory must be an existing directory.
    std::u16string cwd = self.current_directory;
    if (!r.current_directory.empty()) {
        auto full = full_path_name(r.current_directory, self.current_directory);
        if (!full) return std::unexpected(full.error());
        auto d = resolve_path(s, *full, self.current_directory, true);
        if (!d || d->kind != Target::Kind::object || !d->node ||
            s.live.nodes.at(*d->node).kind != NodeKind::directory)
            return win32_error(win32::directory);
        cwd = *full;
    }
    std::optional<std::vector<std::u16string>> env;
    if (!r.environment.empty()) {
        if (!(r.creation_flags & CREATE_UNICODE_ENVIRONMENT))
            return win32_error(win32::invalid_parameter);
        env = parse_environment(r.environment);
        if (!env) return win32_error(win32::invalid_parameter);
    } else if (auto d = s.process_model.details.find(c.pid); d != s.process_model.details.end()) {
        env = d->second.environment;
    }
    uint32_t job = 0;
    if (!r.job_list.empty()) {
        if (!(r.creation_flags & EXTENDED_STARTUPINFO_PRESENT))
            return win32_error(win32::invalid_parameter);
        for (const Handle* jh : r.job_list) {
            HandleObj* obj = jh ? job_handle(c, *jh) : nullptr;
            if (obj == nullptr) return win32_error(win32::invalid_handle);
            if (!(obj->access & kJobAssignProcess)) return win32_error(win32::access_denied);
            job = obj->target;  // nested jobs are not modelled: the last one wins
        }
    }
    StartSpec spec;
    spec.image = path_of(s, *t->node);
    spec.token = self.token;
    spec.current_directory = cwd;
    spec.parent = c.pid;
    spec.command_line = r.command_line.empty() ? r.application_name : r.command_line;
    spec.environment = env;
    spec.job = job;
    auto pid = start_process(s, spec);
    if (!pid) return win32_error(kBadExeFormat);
    HandleObj ph;
    ph.type = HandleType::process;
    ph.target = *pid;
    ph.access = PROCESS_ALL_ACCESS;
    HandleObj th;
    th.type = HandleType::thread;
    th.target = *pid;
    th.access = 0x1FFFFF;
    CreatedProcess out;
    out.process = make_handle(c, std::move(ph));
    out.thread = make_handle(c, std::move(th));
    out.process_id = *pid;
    out.thread_id = *pid + 1;
    mutated(s);
    return out;
}

}  // namespace holvar::sim
