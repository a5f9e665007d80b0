// The machine's fingerprint: every field of its state fed to a 128-bit hash,
// unordered containers combined so that their order does not count. A field
// added to the state and left out here lets an explorer take two different
// machines for one, so the explorer's tests compare fingerprints against the
// saved machine on every walk they take.
#include <cstring>
#include <type_traits>

#include "platform/sim/machine_state.hpp"

namespace holvar::sim {
namespace {

constexpr uint64_t kPrimeA = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kPrimeB = 0xC2B2AE3D27D4EB4Full;

uint64_t rotl(uint64_t v, int r) {
    return (v << r) | (v >> (64 - r));
}

uint64_t fmix(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdull;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ull;
    k ^= k >> 33;
    return k;
}

class Hasher;
void add(Hasher& h, const Fingerprint& f);
void add(Hasher& h, const std::string& s);
void add(Hasher& h, const std::u16string& s);
void add(Hasher& h, const std::vector<uint8_t>& v);
void add(Hasher& h, const Bytes& b);
template <class T>
void add(Hasher& h, const std::optional<T>& v);
template <class K, class V>
void add(Hasher& h, const std::pair<K, V>& e);
template <class T>
void add(Hasher& h, const std::vector<T>& v);
template <class T>
void add(Hasher& h, const std::deque<T>& v);
template <class T>
void add(Hasher& h, const std::set<T>& v);
template <class K, class V, class C>
void add(Hasher& h, const std::map<K, V, C>& m);
template <class K, class V>
void add(Hasher& h, const std::unordered_map<K, V>& m);
template <class T>
void add(Hasher& h, const std::unordered_set<T>& s);
void add(Hasher& h, const platform::Sid& s);
void add(Hasher& h, const platform::Ace& a);
void add(Hasher& h, const platform::Acl& a);
void add(Hasher& h, const Link& l);
void add(Hasher& h, const Node& n);
void add(Hasher& h, const NodeTable& t);
void add(Hasher& h, const Volume& v);
void add(Hasher& h, const MetaOp& op);
void add(Hasher& h, const HandleObj& o);
void add(Hasher& h, const Token& t);
void add(Hasher& h, const Process& p);
void add(Hasher& h, const MutexObj& m);
void add(Hasher& h, const ProcessDetails& d);
void add(Hasher& h, const Job& j);
void add(Hasher& h, const PipeEndpoint& p);
void add(Hasher& h, const platform::ProcessEntry32& e);
void add(Hasher& h, const Event& e);
void add(Hasher& h, const PipeConnection& c);
void add(Hasher& h, const V3ServerState& v);
void add(Hasher& h, const ProcessModel& m);
void add(Hasher& h, const RegValue& v);
void add(Hasher& h, const RegKey& k);
void add(Hasher& h, const RegReadFilter& f);
void add(Hasher& h, const RegHandleObj& o);
void add(Hasher& h, const Service& s);
void add(Hasher& h, const ServiceHandleObj& o);
void add(Hasher& h, const FaultRule& f);
void add(Hasher& h, const StallRule& s);

// Two independent lanes, each a multiply-rotate chain over 64-bit words.
class Hasher {
  public:
    void word(uint64_t v) {
        a_ = rotl(a_ ^ (v * kPrimeA), 31) * 0x87c37b91114253d5ull;
        b_ = rotl(b_ + (v * kPrimeB), 27) * 0x4cf5ad432745937full + 0x52dce729;
    }
    void raw(const void* p, size_t n) {
        word(n);
        const auto* bytes = static_cast<const uint8_t*>(p);
        for (; n >= 8; n -= 8, bytes += 8) {
            uint64_t v;
            std::memcpy(&v, bytes, 8);
            word(v);
        }
        if (n > 0) {
            uint64_t v = 0;
            std::memcpy(&v, bytes, n);
            word(v);
        }
    }
    Fingerprint done() const { return {fmix(a_ ^ fmix(b_)), fmix(b_ + kPrimeA)}; }

    template <class T>
    void operator()(const T& v) {
        if constexpr (std::is_enum_v<T> || std::is_integral_v<T>)
            word(static_cast<uint64_t>(v));
        else
            add(*this, v);
    }
    template <class T, class... Rest>
    void operator()(const T& v, const Rest&... rest) {
        (*this)(v);
        (*this)(rest...);
    }

  private:
    uint64_t a_ = 0x243F6A8885A308D3ull;
    uint64_t b_ = 0x13198A2E03707344ull;
};

// Unordered containers: the sum of their entries' own hashes.
struct Sum {
    Fingerprint f;
    void add(const Fingerprint& e) {
        f.a += e.a;
        f.b += e.b;
    }
};

void add(Hasher& h, const Fingerprint& f) {
    h(f.a, f.b);
}
void add(Hasher& h, const std::string& s) {
    h.raw(s.data(), s.size());
}
void add(Hasher& h, const std::u16string& s) {
    h.raw(s.data(), s.size() * sizeof(char16_t));
}
void add(Hasher& h, const std::vector<uint8_t>& v) {
    h.raw(v.data(), v.size());
}
void add(Hasher& h, const Bytes& b) {
    h(b.hash());
}
template <class T>
void add(Hasher& h, const std::optional<T>& v) {
    h(v.has_value());
    if (v) h(*v);
}
template <class K, class V>
void add(Hasher& h, const std::pair<K, V>& e) {
    h(e.first, e.second);
}
// Ordered containers: their size, then each entry in order.
template <class C>
void add_in_order(Hasher& h, const C& c) {
    h(c.size());
    for (const auto& e : c) h(e);
}
template <class T>
void add(Hasher& h, const std::vector<T>& v) {
    add_in_order(h, v);
}
template <class T>
void add(Hasher& h, const std::deque<T>& v) {
    add_in_order(h, v);
}
template <class T>
void add(Hasher& h, const std::set<T>& v) {
    add_in_order(h, v);
}
template <class K, class V, class C>
void add(Hasher& h, const std::map<K, V, C>& m) {
    add_in_order(h, m);
}
// Unordered containers: their size and the sum of their entries' own hashes.
template <class C>
void add_any_order(Hasher& h, const C& c) {
    Sum sum;
    for (const auto& e : c) {
        Hasher one;
        one(e);
        sum.add(one.done());
    }
    h(c.size(), sum.f);
}
template <class K, class V>
void add(Hasher& h, const std::unordered_map<K, V>& m) {
    add_any_order(h, m);
}
template <class T>
void add(Hasher& h, const std::unordered_set<T>& s) {
    add_any_order(h, s);
}

void add(Hasher& h, const platform::Sid& s) {
    h(s.bytes);
}
void add(Hasher& h, const platform::Ace& a) {
    h(a.type, a.flags, a.size, a.mask, a.sid);
}
void add(Hasher& h, const platform::Acl& a) {
    h(a.aces);
}
void add(Hasher& h, const Link& l) {
    h(l.parent, l.name);
}
// A table's objects, each hashed once until it changes.
void add(Hasher& h, const NodeTable& t) {
    Sum sum;
    for (const auto& [id, n] : t.all()) {
        if (!n->hashed) {
            Hasher e;
            e(*n);
            n->hash = e.done();
            n->hashed = true;
        }
        Hasher e;
        e(id, n->hash);
        sum.add(e.done());
    }
    h(t.size(), sum.f);
}
void add(Hasher& h, const Node& n) {
    h(n.kind, n.volume, n.file_index, n.owner, n.group, n.dacl, n.dacl_protected, n.attributes,
      n.reparse_target, n.mounts, n.creation_time, n.write_time, n.children, n.links, n.data,
      n.open_handles, n.delete_pending);
}
void add(Hasher& h, const Volume& v) {
    h(v.drive, v.mount_folder, v.serial, v.file_system, v.flags, v.root, v.next_index);
}
void add(Hasher& h, const MetaOp& op) {
    h(op.index());
    if (const auto* c = std::get_if<OpCreate>(&op)) h(c->parent, c->name, c->id, c->node);
    if (const auto* l = std::get_if<OpLink>(&op)) h(l->parent, l->name, l->id);
    if (const auto* u = std::get_if<OpUnlink>(&op)) h(u->parent, u->name);
    if (const auto* r = std::get_if<OpRename>(&op))
        h(r->from_parent, r->from_name, r->to_parent, r->to_name, r->replace);
}
void add(Hasher& h, const HandleObj& o) {
    h(o.pid, o.type, o.node, o.volume, o.mutex, o.access, o.share, o.flags, o.position, o.opened_as,
      o.target, o.pipe);
}
void add(Hasher& h, const Token& t) {
    h(t.user, t.elevated, t.privileges);
}
void add(Hasher& h, const Process& p) {
    h(p.image, p.token, p.current_directory, p.alive, p.exit_code, p.image_node);
}
void add(Hasher& h, const MutexObj& m) {
    h(m.owner, m.recursion, m.abandoned, m.handles, m.admin_only);
}
void add(Hasher& h, const ProcessDetails& d) {
    h(d.parent, d.command_line, d.environment, d.environment_given, d.program, d.description,
      d.enabled_privileges, d.job, d.start_time);
}
void add(Hasher& h, const Job& j) {
    h(j.kill_on_close, j.handles, j.members);
}
void add(Hasher& h, const PipeEndpoint& p) {
    h(p.server, p.instances, p.connected, p.deny);
}
void add(Hasher& h, const platform::ProcessEntry32& e) {
    h(e.process_id, e.parent_process_id, e.exe_file);
}
void add(Hasher& h, const Event& e) {
    h(e.due_ns, e.seq, e.pid, e.action, e.payload);
}
void add(Hasher& h, const PipeConnection& c) {
    h(c.client, c.server, c.pipe, c.to_server, c.to_client, c.server_closed, c.started,
      c.server_reads, c.request_index, c.request_read, c.restart_on_close);
}
void add(Hasher& h, const V3ServerState& v) {
    h(v.instance, v.requests, v.restarts);
}
void add(Hasher& h, const ProcessModel& m) {
    h(m.details, m.jobs, m.next_job, m.pipes, m.snapshots, m.snapshot_cursor, m.events,
      m.next_event, m.connections, m.v3_servers, m.clock_bound_ns, m.clock_bound_hit);
}
void add(Hasher& h, const RegValue& v) {
    h(v.name, v.type, v.data);
}
void add(Hasher& h, const RegKey& k) {
    h(k.path, k.values);
}
void add(Hasher& h, const RegReadFilter& f) {
    h(f.key, f.name, f.type, f.data);
}
void add(Hasher& h, const RegHandleObj& o) {
    h(o.pid, o.key, o.access);
}
void add(Hasher& h, const Service& s) {
    h(s.name, s.service_type, s.start_type, s.error_control, s.binary_path, s.load_order_group,
      s.dependencies, s.account, s.display_name, s.description, s.marked_for_delete, s.state, s.pid,
      s.win32_exit_code, s.service_exit_code);
}
void add(Hasher& h, const ServiceHandleObj& o) {
    h(o.pid, o.service, o.access);
}
void add(Hasher& h, const FaultRule& f) {
    h(f.call_index, f.call_name, f.win32, f.once);
}
void add(Hasher& h, const StallRule& s) {
    h(s.call_name, s.duration.count(), s.once);
}

// What a run would meet besides the state: a turn or hook of another
// program, the faults (by call number) and stalls armed.
void add_armed(Hasher& h, const Machine::State& s) {
    h(static_cast<bool>(s.turn), s.turn_at, static_cast<bool>(s.scm.on_call), s.faults, s.stalls);
    if (!s.faults.empty()) h(s.failable_calls);
}

}  // namespace

Fingerprint fingerprint_of(uint64_t tag, const void* data, size_t size) {
    Hasher h;
    h.word(tag);
    h.raw(data, size);
    return h.done();
}

Fingerprint Bytes::hash() const {
    if (!p_) return {};
    if (!p_->hashed) {
        Hasher h;
        h(p_->bytes);
        p_->hash = h.done();
        p_->hashed = true;
    }
    return p_->hash;
}

Fingerprint Machine::fingerprint() const {
    const State& s = *state_;
    Hasher h;
    h(s.clock.count(), s.volumes, s.live.nodes, s.durable.nodes, s.log, s.dirty, s.next_node,
      s.handles, s.next_handle, s.processes, s.next_pid, s.mutexes, s.process_model,
      s.registry.keys, s.registry.filters, s.registry.handles, s.scm.services, s.scm.handles);
    // An armed crash counts from the calls made.
    h(s.crash_at, s.crash_at ? s.mutating_calls : 0, s.frozen, static_cast<bool>(s.on_mutation));
    add_armed(h, s);
    return h.done();
}

Fingerprint Machine::crash_fingerprint() const {
    const State& s = *state_;
    Hasher h;
    h(0x637261736821ull);  // never the fingerprint of a machine
    // What crash() keeps: the durable image and every metadata operation
    // since the barrier, the registry, the services, the System process and
    // the file id counter; the live file system, unflushed contents, handles,
    // mutexes, other processes and the process model all go.
    //
    // The handle and process id counters are left out. After the restart
    // every handle and process the engine meets is new, its number above any
    // number the disk, the registry or the services still hold, on either
    // machine: the two run the same calls to ends that differ only in which
    // fresh numbers they drew, and no end check reads a number but to find
    // the object it names. A walk that checks its fingerprints runs such
    // cuts anyway and compares how they ended.
    h(s.clock.count(), s.volumes, s.durable.nodes, s.log, s.next_node, s.registry.keys,
      s.registry.filters, s.registry.handles, s.scm.services, s.scm.handles);
    if (auto system = s.processes.find(kSystemPid); system != s.processes.end()) {
        const Process& p = system->second;
        h(p.image, p.token, p.current_directory, p.alive, p.exit_code);
    }
    add_armed(h, s);
    return h.done();
}

}  // namespace holvar::sim
