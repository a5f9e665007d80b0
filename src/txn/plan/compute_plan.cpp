#include "txn/plan/compute_plan.hpp"

#include <algorithm>

#include "txn/plan/name_rules.hpp"

namespace holvar::txn::plan {

using journal::LeafKind;
using journal::Op;

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
    return platform::ascii_iequal(prefix, path.substr(0, prefix.size()));
}

// Pass 1: the target tree, the payload without what the service generates.
// Every ancestor of a target path is a safe name and not a file. Keys arrive in
// order, so an ancestor has always been seen before its descendants, and
// consecutive paths mostly share theirs: `checked` is the deepest ancestor
// chain already proven, which spares looking the same ancestors up again.
std::expected<std::vector<const Entry*>, PlanError> build_target(
    const TreeInventory& payload, const std::vector<std::u16string>& generated) {
    std::vector<const Entry*> target;
    target.reserve(payload.size());
    std::u16string_view checked;
    for (const Entry& e : payload) {
        const std::u16string& path = e.first;
        if (e.second.kind == EntryKind::reparse) {
            return std::unexpected(PlanError{PlanErrorCode::reparse, path});
        }
        if (!is_ascii(path)) return std::unexpected(PlanError{PlanErrorCode::non_ascii, path});
        if (is_covered_by(path, generated)) continue;

        size_t cut = path.rfind(u'\\');
        std::u16string_view parent = cut == std::u16string::npos
                                         ? std::u16string_view{}
                                         : std::u16string_view(path).substr(0, cut);
        if (!parent.empty() && !is_component_prefix(parent, checked)) {
            for (size_t pos = path.find(u'\\'); pos != std::u16string::npos;
                 pos = path.find(u'\\', pos + 1)) {
                std::u16string_view ancestor = std::u16string_view(path).substr(0, pos);
                if (is_component_prefix(ancestor, checked)) continue;
                if (!is_safe_relative_name(ancestor)) {
                    return std::unexpected(PlanError{PlanErrorCode::conflict, path});
                }
                auto it = payload.find(ancestor);
                if (it != payload.end() && it->second.kind == EntryKind::file) {
                    return std::unexpected(PlanError{PlanErrorCode::conflict, path});
                }
            }
            checked = parent;
        }
        if (!target.empty() && platform::ascii_iequal(target.back()->first, path)) {
            return std::unexpected(PlanError{PlanErrorCode::conflict, path});
        }
        target.push_back(&e);
    }
    return target;
}

// Shallow before deep, key order kept among equal depths (a counting sort).
void sort_by_depth(std::vector<Op>& ops) {
    std::vector<size_t> depth(ops.size());
    size_t deepest = 0;
    for (size_t i = 0; i < ops.size(); ++i) {
        depth[i] = depth_of(ops[i].rel);
        deepest = std::max(deepest, depth[i]);
    }
    std::vector<size_t> start(deepest + 2, 0);
    for (size_t d : depth) ++start[d + 1];
    for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    std::vector<Op> sorted(ops.size());
    for (size_t i = 0; i < ops.size(); ++i) sorted[start[depth[i]]++] = std::move(ops[i]);
    ops = std::move(sorted);
}

struct Lists {
    std::vector<Op> a, b, c, d, e;
    std::vector<std::u16string> stale;
};

// Pass 3 for one installed entry the target lacks.
void leftover(const Entry& inst, const std::vector<std::u16string>& generated, Lists& lists) {
    if (is_covered_by(inst.first, generated)) return;
    switch (inst.second.kind) {
        case EntryKind::directory:
            lists.stale.push_back(inst.first);
            return;
        case EntryKind::file:
            lists.e.push_back(Op::retire(inst.first, inst.second.file_id, LeafKind::file));
            return;
        case EntryKind::reparse:
            lists.e.push_back(Op::retire(inst.first, inst.second.file_id, LeafKind::reparse));
            return;
    }
}

// Pass 2 for one target entry, with what the installed tree holds at its path.
std::expected<void, PlanError> place(const Entry& t, const Entry* inst, Lists& lists) {
    if (inst != nullptr && inst->second.kind == EntryKind::reparse) {
        lists.a.push_back(Op::retire(inst->first, inst->second.file_id, LeafKind::reparse));
        inst = nullptr;
    }
    const std::u16string& path = t.first;
    if (t.second.kind == EntryKind::directory) {
        if (inst == nullptr) {
            lists.c.push_back(Op::mkdir(path));
        } else if (inst->second.kind != EntryKind::directory) {
            return std::unexpected(PlanError{PlanErrorCode::conflict, path});
        }
        return {};
    }
    Op op;
    if (inst == nullptr) {
        op = Op::add(path, t.second.file_id);
    } else if (inst->second.kind == EntryKind::file) {
        op = Op::replace(path, inst->second.file_id, t.second.file_id);
    } else {
        return std::unexpected(PlanError{PlanErrorCode::conflict, path});
    }
    (platform::ascii_iequal(path, u"uninstall.exe") ? lists.b : lists.d).push_back(std::move(op));
    return {};
}

}  // namespace

std::expected<Plan, PlanError> compute_plan(const TreeInventory& payload,
                                            const TreeInventory& installed,
                                            const std::vector<std::u16string>& generated) {
    auto target = build_target(payload, generated);
    if (!target) return std::unexpected(target.error());

    // Passes 2 and 3 walk the target and the installed tree side by side: both
    // are in key order, so every lookup is a step of the walk.
    Lists lists;
    // Reserved, not touched: the growth copies of the two long lists are spared.
    lists.c.reserve(target->size());
    lists.d.reserve(target->size());
    lists.e.reserve(installed.size());
    auto inst = installed.begin();
    for (const Entry* t : *target) {
        const Entry* match = nullptr;
        while (inst != installed.end()) {
            int order = platform::ascii_icompare(inst->first, t->first);
            if (order > 0) break;
            if (order == 0) {
                match = &*inst;
                ++inst;
                break;
            }
            leftover(*inst, generated, lists);
            ++inst;
        }
        if (auto placed = place(*t, match, lists); !placed) return std::unexpected(placed.error());
    }
    for (; inst != installed.end(); ++inst) leftover(*inst, generated, lists);

    sort_by_depth(lists.c);

    Plan plan;
    plan.ops.reserve(lists.a.size() + lists.b.size() + lists.c.size() + lists.d.size() +
                     lists.e.size());
    for (auto* list : {&lists.a, &lists.b, &lists.c, &lists.d, &lists.e}) {
        for (Op& op : *list) plan.ops.push_back(std::move(op));
    }
    // seq is a 32-bit number: a plan it cannot count is refused.
    constexpr uint64_t max_ops = uint64_t{0xFFFFFFFF};
    if (plan.ops.size() > max_ops) {
        return std::unexpected(PlanError{PlanErrorCode::conflict, plan.ops[max_ops].rel});
    }
    for (size_t i = 0; i < plan.ops.size(); ++i) plan.ops[i].seq = static_cast<uint32_t>(i);
    plan.stale_directories = std::move(lists.stale);
    return plan;
}

}  // namespace holvar::txn::plan
