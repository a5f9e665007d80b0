#include "txn/plan/compute_plan.hpp"

#include <algorithm>
#include <optional>

#include "txn/plan/name_rules.hpp"

namespace holvar::txn::plan {

using journal::LeafKind;
using journal::Op;
using journal::OpType;

namespace {

using Entry = TreeInventory::value_type;

bool is_ascii(std::u16string_view path) {
    for (char16_t c : path) {
        if (c > 0x7F) return false;
    }
    return true;
}

size_t depth_of(std::u16string_view path) {
    return static_cast<size_t>(std::count(path.begin(), path.end(), u'\\'));
}

// `prefix` is `path` cut at a separator (or the whole of it).
bool is_component_prefix(std::u16string_view prefix, std::u16string_view path) {
    if (prefix.size() > path.size()) return false;
    if (prefix.size() < path.size() && path[prefix.size()] != u'\\') return false;
    std::u16string_view head = path.substr(0, prefix.size());
    return head == prefix || platform::ascii_iequal(prefix, head);
}

// Pass 1, one payload entry at a time in key order: the target tree is the
// payload without what the service generates, and every ancestor of a target
// path is a safe name and not a file. An ancestor always comes before its
// descendants, and consecutive paths mostly share theirs: `checked_` is the
// deepest ancestor chain already proven, which spares looking the same
// ancestors up again.
class TargetRules {
  public:
    TargetRules(const TreeInventory& payload, const std::vector<std::u16string>& generated)
        : payload_(payload), generated_(generated) {}

    // Whether the entry belongs to the target (a generated item does not), or
    // why the payload cannot be planned.
    std::expected<bool, PlanError> admit(const Entry& e) {
        const std::u16string& path = e.first;
        if (e.second.kind == EntryKind::reparse) {
            return std::unexpected(PlanError{PlanErrorCode::reparse, path});
        }
        if (!is_ascii(path)) return std::unexpected(PlanError{PlanErrorCode::non_ascii, path});
        if (is_covered_by(path, generated_)) return false;

        size_t cut = path.rfind(u'\\');
        std::u16string_view parent = cut == std::u16string::npos
                                         ? std::u16string_view{}
                                         : std::u16string_view(path).substr(0, cut);
        if (!parent.empty() && !is_component_prefix(parent, checked_)) {
            for (size_t pos = path.find(u'\\'); pos != std::u16string::npos;
                 pos = path.find(u'\\', pos + 1)) {
                std::u16string_view ancestor = std::u16string_view(path).substr(0, pos);
                if (is_component_prefix(ancestor, checked_)) continue;
                if (!is_safe_relative_name(ancestor)) {
                    return std::unexpected(PlanError{PlanErrorCode::conflict, path});
                }
                auto it = payload_.find(ancestor);
                if (it != payload_.end() && it->second.kind == EntryKind::file) {
                    return std::unexpected(PlanError{PlanErrorCode::conflict, path});
                }
            }
            checked_ = parent;
        }
        // A second entry on one key cannot occur: the inventory's keys are
        // unique under the same folding.
        return true;
    }

  private:
    const TreeInventory& payload_;
    const std::vector<std::u16string>& generated_;
    std::u16string_view checked_;
};

// One planned operation before it becomes an Op: which entries it concerns.
// The lists hold these, a few words each, and the operations are built once,
// in their final place, when the order is known.
struct Planned {
    OpType type;
    LeafKind leaf_kind;      // retire
    const Entry* target;     // replace, add, mkdir: the payload entry (its path)
    const Entry* installed;  // replace, retire: the installed entry
};

// Lists A, B, C and E. List D, the bulk of every plan, is written as
// operations straight away, while its paths are at hand.
struct Lists {
    std::vector<Planned> a, b, c, e;
    std::vector<Op> d;
    std::vector<std::u16string> stale;
};

LeafKind leaf_kind_of(EntryKind kind) {
    return kind == EntryKind::reparse ? LeafKind::reparse : LeafKind::file;
}

// Pass 3 for one installed entry the target lacks.
void leftover(const Entry& inst, const std::vector<std::u16string>& generated, Lists& lists) {
    if (is_covered_by(inst.first, generated)) return;
    if (inst.second.kind == EntryKind::directory) {
        lists.stale.push_back(inst.first);
        return;
    }
    lists.e.push_back({OpType::retire, leaf_kind_of(inst.second.kind), nullptr, &inst});
}

// Pass 2 for one target entry, with what the installed tree holds at its path.
std::expected<void, PlanError> place(const Entry& t, const Entry* inst, Lists& lists) {
    if (inst != nullptr && inst->second.kind == EntryKind::reparse) {
        lists.a.push_back({OpType::retire, LeafKind::reparse, nullptr, inst});
        inst = nullptr;
    }
    const std::u16string& path = t.first;
    if (t.second.kind == EntryKind::directory) {
        if (inst == nullptr) {
            lists.c.push_back({OpType::mkdir, LeafKind::file, &t, nullptr});
        } else if (inst->second.kind != EntryKind::directory) {
            return std::unexpected(PlanError{PlanErrorCode::conflict, path});
        }
        return {};
    }
    if (inst != nullptr && inst->second.kind != EntryKind::file) {
        return std::unexpected(PlanError{PlanErrorCode::conflict, path});
    }
    if (platform::ascii_iequal(path, u"uninstall.exe")) {
        lists.b.push_back(
            {inst == nullptr ? OpType::add : OpType::replace, LeafKind::file, &t, inst});
    } else if (inst == nullptr) {
        lists.d.push_back(Op::add(path, t.second.file_id));
    } else {
        lists.d.push_back(Op::replace(path, inst->second.file_id, t.second.file_id));
    }
    return {};
}

Op make_op(const Planned& p) {
    switch (p.type) {
        case OpType::replace:
            return Op::replace(p.target->first, p.installed->second.file_id,
                               p.target->second.file_id);
        case OpType::add:
            return Op::add(p.target->first, p.target->second.file_id);
        case OpType::retire:
            return Op::retire(p.installed->first, p.installed->second.file_id, p.leaf_kind);
        case OpType::mkdir:
            break;
    }
    return Op::mkdir(p.target->first);
}

// Shallow before deep, key order kept among equal depths (a counting sort:
// each path's depth is counted once).
void sort_by_depth(std::vector<Planned>& mkdirs) {
    std::vector<size_t> depth(mkdirs.size());
    size_t deepest = 0;
    for (size_t i = 0; i < mkdirs.size(); ++i) {
        depth[i] = depth_of(mkdirs[i].target->first);
        deepest = std::max(deepest, depth[i]);
    }
    std::vector<size_t> start(deepest + 2, 0);
    for (size_t d : depth) ++start[d + 1];
    for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    std::vector<Planned> sorted(mkdirs.size());
    for (size_t i = 0; i < mkdirs.size(); ++i) sorted[start[depth[i]]++] = mkdirs[i];
    mkdirs = std::move(sorted);
}

}  // namespace

std::expected<Plan, PlanError> compute_plan(const TreeInventory& payload,
                                            const TreeInventory& installed,
                                            const std::vector<std::u16string>& generated) {
    // One walk does all three passes: the payload and the installed tree are
    // both in key order, so every lookup between them is a step of the walk,
    // and each path is read while it is at hand. A pass 1 failure anywhere in
    // the payload still comes before any placing conflict: the first conflict
    // is kept, and the walk goes on checking the rest of the payload.
    TargetRules rules(payload, generated);
    Lists lists;
    // Every entry of either tree gives at most one operation: with room for
    // all of them, D never moves while the plan is assembled around it.
    lists.d.reserve(payload.size() + installed.size());
    std::optional<PlanError> conflict;
    auto inst = installed.begin();
    for (const Entry& t : payload) {
        auto admitted = rules.admit(t);
        if (!admitted) return std::unexpected(admitted.error());
        if (!*admitted || conflict) continue;
        const Entry* match = nullptr;
        while (inst != installed.end()) {
            int order = platform::ascii_icompare(inst->first, t.first);
            if (order > 0) break;
            if (order == 0) {
                match = &*inst;
                ++inst;
                break;
            }
            leftover(*inst, generated, lists);
            ++inst;
        }
        if (auto placed = place(t, match, lists); !placed) conflict = placed.error();
    }
    if (conflict) return std::unexpected(*conflict);
    for (; inst != installed.end(); ++inst) leftover(*inst, generated, lists);

    sort_by_depth(lists.c);

    // A, B and C go before D, E after it; D stays where it was written.
    size_t ahead = lists.a.size() + lists.b.size() + lists.c.size();
    size_t count = ahead + lists.d.size() + lists.e.size();
    // seq is a 32-bit number: a plan it cannot count is refused.
    constexpr uint64_t max_ops = uint64_t{0xFFFFFFFF};
    if (count > max_ops) {
        size_t at = max_ops;
        for (auto* list : {&lists.a, &lists.b, &lists.c}) {
            if (at < list->size()) {
                return std::unexpected(
                    PlanError{PlanErrorCode::conflict, make_op((*list)[at]).rel});
            }
            at -= list->size();
        }
        if (at < lists.d.size()) {
            return std::unexpected(PlanError{PlanErrorCode::conflict, lists.d[at].rel});
        }
        at -= lists.d.size();
        return std::unexpected(PlanError{PlanErrorCode::conflict, make_op(lists.e[at]).rel});
    }
    Plan plan;
    plan.ops = std::move(lists.d);
    plan.ops.insert(plan.ops.begin(), ahead, Op{});
    size_t next = 0;
    for (auto* list : {&lists.a, &lists.b, &lists.c}) {
        for (const Planned& p : *list) plan.ops[next++] = make_op(p);
    }
    for (const Planned& p : lists.e) plan.ops.push_back(make_op(p));
    for (size_t i = 0; i < plan.ops.size(); ++i) plan.ops[i].seq = static_cast<uint32_t>(i);
    plan.stale_directories = std::move(lists.stale);
    return plan;
}

}  // namespace holvar::txn::plan
