#include "txn/tree/op_state.hpp"

namespace holvar::txn::tree {

using fs::ObjectKind;
using fs::ObjectProbe;
using journal::Op;
using journal::OpType;

std::string_view op_state_name(OpState state) {
    switch (state) {
        case OpState::replaced:
            return "replaced";
        case OpState::linked:
            return "linked";
        case OpState::untouched:
            return "untouched";
        case OpState::retired:
            return "retired";
        case OpState::added:
            return "added";
        case OpState::created:
            return "created";
        case OpState::foreign:
            return "foreign";
    }
    return "foreign";
}

ObjectKind leaf_object_kind(journal::LeafKind kind) {
    return kind == journal::LeafKind::reparse ? ObjectKind::reparse : ObjectKind::file;
}

namespace {

bool is_retired_object(const ObjectProbe& t, const std::optional<RetiredObject>& retired_here) {
    return retired_here && t.is(retired_here->kind, retired_here->id);
}

OpState classify_replace(const Op& op, const ObjectProbe& t, const ObjectProbe& r) {
    bool r_old = r.is(ObjectKind::file, op.old_id);
    if (t.is(ObjectKind::file, op.old_id)) {
        if (r.kind == ObjectKind::absent) return OpState::untouched;
        return r_old ? OpState::linked : OpState::foreign;
    }
    if (!r_old) return OpState::foreign;
    if (t.is(ObjectKind::file, op.new_id)) return OpState::replaced;
    if (t.kind == ObjectKind::absent) return OpState::retired;
    return OpState::foreign;
}

// A retire is complete once the old object sits in R. Whatever then holds T
// is left to the operations that follow on the same path (a mkdir or an add
// where a link was, undone before this one in reverse order); undoing the
// retire renames without replacing, so nothing found at T can be lost.
OpState classify_retire(const Op& op, const ObjectProbe& t, const ObjectProbe& r) {
    ObjectKind k = leaf_object_kind(op.leaf_kind);
    bool t_old = t.is(k, op.old_id);
    bool r_old = r.is(k, op.old_id);
    if (t_old && r.kind == ObjectKind::absent) return OpState::untouched;
    if (!t_old && r_old) return OpState::retired;
    return OpState::foreign;
}

}  // namespace

OpState classify_op(const Op& op, const ObjectProbe& t, const ObjectProbe& r,
                    const std::optional<RetiredObject>& retired_here) {
    switch (op.type) {
        case OpType::add:
            if (t.kind == ObjectKind::absent || is_retired_object(t, retired_here))
                return OpState::untouched;
            return t.is(ObjectKind::file, op.new_id) ? OpState::added : OpState::foreign;
        case OpType::mkdir:
            if (t.kind == ObjectKind::absent || is_retired_object(t, retired_here))
                return OpState::untouched;
            return t.kind == ObjectKind::directory ? OpState::created : OpState::foreign;
        case OpType::retire:
            return classify_retire(op, t, r);
        case OpType::replace:
            return classify_replace(op, t, r);
    }
    return OpState::foreign;
}

bool op_is_placed(const Op& op, const ObjectProbe& t, const ObjectProbe& r) {
    switch (op.type) {
        case OpType::replace:
        case OpType::add:
            return t.is(ObjectKind::file, op.new_id);
        case OpType::retire:
            return r.is(leaf_object_kind(op.leaf_kind), op.old_id);
        case OpType::mkdir:
            return t.kind == ObjectKind::directory;
    }
    return false;
}

}  // namespace holvar::txn::tree
