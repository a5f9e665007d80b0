// Crash and fault injection: what a power cut leaves on disk, and calls that
// fail on purpose.
#include "platform/sim/call_support.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

namespace {

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A torn write: the first k bytes of the new contents reached the disk, the
// rest is still the old contents (or nothing, past the old end).
std::vector<uint8_t> torn(const std::vector<uint8_t>& now, const std::vector<uint8_t>& before,
                          uint64_t seed, NodeId id) {
    size_t k = static_cast<size_t>(mix(seed ^ mix(id)) % (now.size() + 1));
    std::vector<uint8_t> out(now.begin(), now.begin() + static_cast<long>(k));
    if (before.size() > k)
        out.insert(out.end(), before.begin() + static_cast<long>(k), before.end());
    return out;
}

}  // namespace

void Machine::arm_crash_after(uint64_t n) {
    state_->crash_at = n == 0 ? 0 : state_->mutating_calls + n;
}

void Machine::arm_turn_after(uint64_t n, std::function<void()> turn) {
    state_->turn = std::move(turn);
    state_->turn_at = state_->mutating_calls + n;
}

uint64_t Machine::mutating_calls() const {
    return state_->mutating_calls;
}
uint64_t Machine::boundary_calls() const {
    return state_->boundary_calls;
}
uint64_t Machine::failable_calls() const {
    return state_->failable_calls;
}
size_t Machine::metadata_since_barrier() const {
    return state_->log.size();
}

void Machine::crash(const CrashCut& cut) {
    State& s = *state_;
    // Metadata: the durable image plus a prefix of what came after the barrier.
    Namespace image = s.durable;
    size_t keep = cut.metadata_kept ? std::min(*cut.metadata_kept, s.log.size()) : s.log.size();
    for (size_t i = 0; i < keep; ++i) apply_op(image, s.log[i], true);
    // Contents: as last flushed, or torn between that and the unflushed bytes.
    if (cut.tear_seed) {
        for (NodeId id : s.dirty) {
            const Node* in_image = image.nodes.find(id);
            const Node* live = s.live.nodes.find(id);
            if (!in_image || !live) continue;
            image.nodes.edit(id).data = torn(live->data, in_image->data, *cut.tear_seed, id);
        }
    }
    // Live state only: only an object that has some is copied to clear it.
    std::vector<NodeId> live_only;
    for (const auto& [id, n] : image.nodes.all())
        if (n->open_handles != 0 || n->delete_pending) live_only.push_back(id);
    for (NodeId id : live_only) {
        Node& n = image.nodes.edit(id);
        n.open_handles = 0;
        n.delete_pending.reset();
    }
    s.live = image;
    s.durable = std::move(image);
    s.log.clear();
    s.dirty.clear();
    // Every process is gone with its handles; named objects vanish with them.
    s.handles.clear();
    s.mutexes.clear();
    for (auto it = s.processes.begin(); it != s.processes.end();) {
        if (it->first == 4) {
            it->second.image_node = 0;
            ++it;
        } else {
            it = s.processes.erase(it);
        }
    }
    clear_process_model(s);
    s.crash_at = 0;
    s.frozen = false;
}

void Machine::add_fault(const FaultRule& rule) {
    state_->faults.push_back(rule);
}
void Machine::clear_faults() {
    state_->faults.clear();
}
void Machine::record_call_names(std::vector<std::string>* names) {
    state_->call_names = names;
}
void Machine::take_crash_images(CrashImageSink sink, CrashImageWanted wanted) {
    if (!sink) {
        state_->on_mutation.call = nullptr;
        return;
    }
    const uint64_t start = state_->mutating_calls;
    state_->on_mutation.call = [sink = std::move(sink), wanted = std::move(wanted), start,
                                this](const State& now) {
        const uint64_t n = now.mutating_calls - start;
        if (wanted && !wanted(n, *this)) return;
        // What the armed crash leaves: fired and disarmed, the run frozen in
        // the call it struck in.
        std::unique_ptr<Machine> image(new Machine());
        State& s = *image->state_;
        s = now;
        s.call_names = nullptr;
        s.crash_at = 0;
        s.frozen = true;
        sink(n, std::move(image), now.current_call);
    };
}

void Machine::add_stall(const StallRule& rule) {
    state_->stalls.push_back(rule);
}
void Machine::clear_stalls() {
    state_->stalls.clear();
}

}  // namespace holvar::sim
