// Named mutexes: owned by a process, recursive for their owner, abandoned when
// the owner ends while holding them.
#include <algorithm>

#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;
namespace {

// Kernel object namespaces: "Global\" names the global namespace, "Local\"
// or no prefix the caller's session. Services (LocalSystem, LocalService,
// NetworkService) run in session 0, whose session namespace is the global
// one; every other process runs in interactive session 1, where "Local\X"
// and "Global\X" are two objects. `rest` is the name after the prefix.
std::u16string object_name(const Process& caller, const std::u16string& name,
                           std::u16string& rest) {
    rest = name;
    bool global = false;
    for (std::u16string_view prefix : {u"Global\\", u"Local\\"}) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        rest = name.substr(prefix.size());
        global = prefix == u"Global\\";
    }
    const Sid& user = caller.token.user;
    const bool session_zero =
        user == system_token().user || user == sid_of(u"S-1-5-19") || user == sid_of(u"S-1-5-20");
    if (global || session_zero) return rest;
    return u"\\Sessions\\1\\" + rest;
}

// Takes the mutex for `pid` when it can: free, abandoned, or already its own.
std::optional<uint32_t> try_acquire(MutexObj& m, uint32_t pid) {
    if (m.owner == pid && m.owner != 0) {
        ++m.recursion;
        return WAIT_OBJECT_0;
    }
    if (m.owner != 0) return std::nullopt;
    m.owner = pid;
    m.recursion = 1;
    if (m.abandoned) {
        m.abandoned = false;
        return WAIT_ABANDONED;
    }
    return WAIT_OBJECT_0;
}

}  // namespace

Result<CreatedMutex> sim_create_mutex(Caller& c, const std::u16string& name, bool initial_owner) {
    Machine::State& s = c.s;
    std::u16string rest;
    std::u16string key = object_name(c.process(), name, rest);
    if (rest.find(u'\\') != std::u16string::npos) return win32_error(win32::path_not_found);
    auto it = s.mutexes.find(key);
    bool existed = it != s.mutexes.end();
    if (existed) {
        // The default DACL of a privileged creator admits only privileged openers.
        if (it->second.admin_only && !token_is_admin(c.process().token))
            return win32_error(win32::access_denied);
    } else {
        MutexObj m;
        m.admin_only = token_is_admin(c.process().token);
        if (initial_owner) {
            m.owner = c.pid;
            m.recursion = 1;
        }
        it = s.mutexes.emplace(key, m).first;
    }
    ++it->second.handles;
    HandleObj h;
    h.type = HandleType::mutex;
    h.mutex = key;
    h.access = 0x1F0001;  // MUTEX_ALL_ACCESS
    CreatedMutex out{make_handle(c, std::move(h)), existed};
    return out;
}

// Waits run on the virtual clock: a finite timeout that cannot be met
// advances the clock by the timeout and reports WAIT_TIMEOUT.
Result<uint32_t> sim_wait_for_single_object(Caller& c, const Handle& h, uint32_t timeout_ms) {
    Machine::State& s = c.s;
    HandleObj* obj = find_handle(c, h);
    if (obj != nullptr && (obj->type == HandleType::process || obj->type == HandleType::thread))
        return sim_wait_for_process_handle(c, *obj, timeout_ms);
    if (obj == nullptr || obj->type != HandleType::mutex) return win32_error(win32::invalid_handle);
    const std::u16string name = obj->mutex;
    if (auto r = try_acquire(s.mutexes.at(name), c.pid)) return *r;
    if (timeout_ms == INFINITE) return fail(ErrorKind::other, "wait would never end");
    // Time passes in small steps so that a holder ending on the way (a
    // scheduled event) hands the mutex over before the timeout.
    const Instant deadline = s.clock + std::chrono::milliseconds(timeout_ms);
    while (s.clock < deadline) {
        const Instant before = s.clock;
        advance_clock_to(s, std::min<Instant>(deadline, s.clock + std::chrono::milliseconds(10)));
        if (auto r = try_acquire(s.mutexes.at(name), c.pid)) return *r;
        if (s.clock == before) break;  // a bounded task's clock stopped at its bound
    }
    return uint32_t{WAIT_TIMEOUT};
}

}  // namespace holvar::sim
