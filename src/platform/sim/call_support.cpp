#include "platform/sim/call_support.hpp"
#include "platform/sim/sim_processes.hpp"

#include "platform/sim/namespace_ops.hpp"

namespace holvar::sim {

std::optional<platform::Error> begin_call(Machine::State& s, std::string_view name) {
    if (s.frozen) throw CrashInjected{s.mutating_calls, std::string(s.current_call)};
    if (s.turn && s.mutating_calls >= s.turn_at) {
        // Taken out first: the turn's own calls come through here too.
        std::function<void()> turn = std::move(s.turn);
        s.turn = nullptr;
        turn();
    }
    ++s.boundary_calls;
    ++s.failable_calls;
    for (auto it = s.stalls.begin(); it != s.stalls.end(); ++it) {
        if (it->call_name != name) continue;
        const platform::Duration d = it->duration;
        if (it->once) s.stalls.erase(it);
        advance_clock_to(s, s.clock + d);  // a bounded task's clock stops at its bound
        break;
    }
    s.current_call = name;
    if (s.call_names) s.call_names->emplace_back(name);
    for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
        const bool name_fits = it->call_name.empty() || it->call_name == name;
        bool by_index =
            it->call_index && name_fits &&
            (it->once ? *it->call_index == s.failable_calls : *it->call_index <= s.failable_calls);
        bool by_name = !it->call_index && !it->call_name.empty() && it->call_name == name;
        if (!by_index && !by_name) continue;
        platform::Error e{platform::ErrorKind::win32, it->win32, "win32"};
        if (it->once) s.faults.erase(it);
        return e;
    }
    return std::nullopt;
}

void mutated(Machine::State& s) {
    ++s.mutating_calls;
    if (s.on_mutation) s.on_mutation.call(s);
    if (s.crash_at != 0 && s.mutating_calls == s.crash_at) {
        s.crash_at = 0;
        s.frozen = true;
        throw CrashInjected{s.mutating_calls, std::string(s.current_call)};
    }
}

void metadata_barrier(Machine::State& s) {
    for (const MetaOp& op : s.log) apply_op(s.durable, op, true);
    s.log.clear();
}

void flush_contents(Machine::State& s, NodeId id) {
    const Node* live = s.live.nodes.find(id);
    if (live && s.durable.nodes.contains(id)) s.durable.nodes.edit(id).data = live->data;
    s.dirty.erase(id);
}

HandleObj* find_handle(const Caller& c, const platform::Handle& h) {
    if (!h.valid() || h.kind() != platform::HandleKind::kernel) return nullptr;
    auto it = c.s.handles.find(h.raw());
    if (it == c.s.handles.end() || it->second.pid != c.pid) return nullptr;
    return &it->second;
}

platform::Handle make_handle(const Caller& c, HandleObj obj) {
    uint64_t raw = c.s.next_handle;
    c.s.next_handle += 4;
    obj.pid = c.pid;
    c.s.handles.emplace(raw, std::move(obj));
    return platform::Handle(c.closer, platform::HandleKind::kernel, raw);
}

void close_raw_handle(Machine::State& s, uint64_t raw) {
    auto it = s.handles.find(raw);
    if (it == s.handles.end()) return;
    HandleObj h = std::move(it->second);
    s.handles.erase(it);
    if (h.type == HandleType::file) {
        Node* n = s.live.nodes.find_to_edit(h.node);
        if (!n) return;
        if (n->open_handles > 0) --n->open_handles;
        if (n->open_handles == 0 && n->delete_pending) {
            // Delete-on-close: the name goes with the last handle.
            Link l = *n->delete_pending;
            n->delete_pending.reset();
            record_op(s, OpUnlink{l.parent, l.name});
        }
        collect_if_orphan(s, h.node);
    } else if (h.type == HandleType::mutex) {
        auto m = s.mutexes.find(h.mutex);
        if (m != s.mutexes.end() && --m->second.handles == 0) s.mutexes.erase(m);
    } else {
        on_process_object_closed(s, raw, h);
    }
}

std::optional<platform::Error> enter_call(Machine::State& s, uint32_t pid, std::string_view name) {
    if (auto fault = begin_call(s, name)) return fault;
    auto it = s.processes.find(pid);
    if (it == s.processes.end() || !it->second.alive)
        return platform::Error{platform::ErrorKind::win32, platform::win32::invalid_handle,
                               "win32"};
    return std::nullopt;
}

}  // namespace holvar::sim
