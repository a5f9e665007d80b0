// Named pipe endpoints on the simulated machine: a client open of
// "\\.\pipe\<name>" connects to an instance that a simulated process serves.
#include "platform/sim/sim_pipes.hpp"

#include "platform/sim/names.hpp"
#include "platform/sim/process_model.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;

// No server: 2. Every instance connected to another client: 231. The pipe's
// security refusing the caller: 5. Otherwise the client holds one instance
// until its handle closes.
Result<Handle> sim_open_pipe(Caller& c, const std::u16string& name, uint32_t access,
                             uint32_t flags) {
    std::u16string key = fold_name(name);
    auto it = c.s.process_model.pipes.find(key);
    if (it == c.s.process_model.pipes.end() || !is_alive(c.s, it->second.server))
        return win32_error(win32::file_not_found);
    PipeEndpoint& p = it->second;
    if (p.deny) return win32_error(win32::access_denied);
    if (p.connected >= p.instances) return win32_error(win32::pipe_busy);
    ++p.connected;
    HandleObj h;
    h.type = HandleType::pipe;
    h.target = p.server;
    h.pipe = key;
    h.access = access;
    h.flags = flags;
    return make_handle(c, std::move(h));
}

Result<uint32_t> SimPipes::get_named_pipe_server_process_id(const Handle& pipe) {
    if (auto e = enter("get_named_pipe_server_process_id")) return std::unexpected(*e);
    Caller c = caller();
    HandleObj* obj = find_handle(c, pipe);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (obj->type != HandleType::pipe) return win32_error(1);  // ERROR_INVALID_FUNCTION
    return obj->target;
}

}  // namespace holvar::sim
