#include "txn/tree/apply_op.hpp"

#include "txn/fs/object_identity.hpp"
#include "txn/fs/verified_hard_link.hpp"
#include "txn/fs/verified_rename.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/fs/wide_path.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/op_slots.hpp"
#include "txn/tree/op_state.hpp"
#include "txn/tree/slot_link.hpp"

namespace holvar::txn::tree {

namespace p = platform;
using fs::ObjectKind;
using journal::Op;
using journal::OpType;

namespace {

p::Status apply_add(p::Os& os, const TreeLayout& layout, const Op& op, const OpPaths& paths,
                    fs::PinnedFolders* pins) {
    auto t = read_target(os, layout, op, pins);
    if (!t) return std::unexpected(t.error());
    if (t->is(ObjectKind::file, op.new_id)) return {};
    if (t->kind != ObjectKind::absent) return p::foreign_identity();
    // Absent may also mean a folder above the target is no longer a plain
    // directory; the file must not land wherever a link would lead.
    if (auto plain = require_plain_parents(os, layout.root, paths.components, pins); !plain)
        return plain;
    return fs::verified_rename(os, paths.source, paths.target, ObjectKind::file, op.new_id, false);
}

p::Status apply_mkdir(p::Os& os, const TreeLayout& layout, const Op& op, const OpPaths& paths,
                      fs::PinnedFolders* pins) {
    auto t = read_target(os, layout, op, pins);
    if (!t) return std::unexpected(t.error());
    if (t->kind == ObjectKind::directory) return {};
    if (t->kind != ObjectKind::absent) return p::foreign_identity();
    if (auto plain = require_plain_parents(os, layout.root, paths.components, pins); !plain)
        return plain;
    auto wide = fs::wide_path(paths.target);
    if (!wide) return std::unexpected(wide.error());
    // No security descriptor: the new folder inherits from the root.
    return os.files.create_directory(*wide);
}

p::Status apply_retire(p::Os& os, const TreeLayout& layout, const Op& op, const OpPaths& paths,
                       fs::PinnedFolders* pins) {
    ObjectKind kind = leaf_object_kind(op.leaf_kind);
    auto t = read_target(os, layout, op, pins);
    if (!t) return std::unexpected(t.error());
    if (t->is(kind, op.old_id)) {
        if (auto made = ensure_slot_parents(os, layout, paths, pins); !made) return made;
        return fs::verified_rename(os, paths.target, paths.slot, kind, op.old_id, false);
    }
    auto r = read_slot(os, layout, op, pins);
    if (!r) return std::unexpected(r.error());
    if (r->is(kind, op.old_id)) return {};  // retired already
    return p::foreign_identity();
}

p::Status apply_replace(p::Os& os, const TreeLayout& layout, const Op& op, const OpPaths& paths,
                        fs::PinnedFolders* pins) {
    auto t = read_target(os, layout, op, pins);
    if (!t) return std::unexpected(t.error());
    if (t->is(ObjectKind::file, op.new_id)) return {};  // replaced already
    if (!t->is(ObjectKind::file, op.old_id)) return p::foreign_identity();
    auto r = read_slot(os, layout, op, pins);
    if (!r) return std::unexpected(r.error());
    if (r->kind == ObjectKind::absent) {
        if (auto made = ensure_slot_parents(os, layout, paths, pins); !made) return made;
        if (auto linked = link_verified(os, paths.target, op.old_id, paths.slot); !linked)
            return linked;
    } else if (!r->is(ObjectKind::file, op.old_id)) {
        return p::foreign_identity();
    }
    // The old file keeps its name in the rollback folder; the new one takes
    // over the target in one rename that replaces it.
    return fs::verified_rename(os, paths.source, paths.target, ObjectKind::file, op.new_id, true);
}

}  // namespace

p::Status apply_op(p::Os& os, const TreeLayout& layout, const Op& op, fs::PinnedFolders* pins) {
    auto paths = op_paths(layout, op);
    if (!paths) return std::unexpected(paths.error());
    switch (op.type) {
        case OpType::add:
            return apply_add(os, layout, op, *paths, pins);
        case OpType::mkdir:
            return apply_mkdir(os, layout, op, *paths, pins);
        case OpType::retire:
            return apply_retire(os, layout, op, *paths, pins);
        case OpType::replace:
            return apply_replace(os, layout, op, *paths, pins);
    }
    return p::foreign_identity();
}

}  // namespace holvar::txn::tree
