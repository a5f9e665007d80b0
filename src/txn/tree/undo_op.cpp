#include "txn/tree/undo_op.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/verified_rename.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/op_slots.hpp"
#include "txn/tree/slot_link.hpp"
#include "txn/tree/trash.hpp"

namespace holvar::txn::tree {

namespace p = platform;
using fs::ObjectKind;
using fs::ObjectProbe;
using journal::Op;

namespace {

// The new file of a replace is a payload object: before the old file takes
// its name back, it gets a second name in the trash, so the undo loses no
// file. When trash\op-<seq> holds something else, that name is left alone.
p::Status keep_new_in_trash(p::Os& os, const TreeLayout& layout, const Op& op,
                            const OpPaths& paths) {
    std::u16string kept = p::join_path(layout.trash, trash_op_name(op.seq));
    auto there = fs::probe_path(os, kept);
    if (!there) return std::unexpected(there.error());
    if (there->kind != ObjectKind::absent) return {};
    if (auto made = ensure_trash_folder(os, layout.trash); !made) return made;
    return link_verified(os, paths.target, op.new_id, kept);
}

p::Status undo_replaced(p::Os& os, const TreeLayout& layout, const Op& op, const OpPaths& paths,
                        const ObjectProbe& r) {
    if (auto kept = keep_new_in_trash(os, layout, op, paths); !kept) return kept;
    return fs::verified_rename(os, paths.slot, paths.target, r.kind, r.id, true);
}

// The old file stays at the target; only its second name goes.
p::Status undo_linked(p::Os& os, const OpPaths& paths, const ObjectProbe& r) {
    auto handle = fs::open_object(os, paths.slot, fs::kRenameDeleteAccess);
    if (!handle) return std::unexpected(handle.error());
    if (auto ok = fs::verify_handle(os, *handle, r.kind, r.id, paths.slot); !ok) return ok;
    return fs::delete_by_handle(os, *handle);
}

p::Status undo_retired(p::Os& os, const TreeLayout& layout, const OpPaths& paths,
                       const ObjectProbe& r, fs::PinnedFolders* pins) {
    // T read absent: make sure that is not because a folder above it became a link.
    if (auto plain = require_plain_parents(os, layout.root, paths.components, pins); !plain)
        return plain;
    return fs::verified_rename(os, paths.slot, paths.target, r.kind, r.id, false);
}

p::Status undo_added(p::Os& os, const TreeLayout& layout, const Op& op, const OpPaths& paths,
                     const ObjectProbe& t) {
    if (auto made = ensure_trash_folder(os, layout.trash); !made) return made;
    std::u16string away = p::join_path(layout.trash, trash_op_name(op.seq));
    return fs::verified_rename(os, paths.target, away, t.kind, t.id, false);
}

struct Classified {
    OpPaths paths;
    OpSlots slots;
    OpState state = OpState::foreign;
};

p::Result<Classified> classify(p::Os& os, const TreeLayout& layout, const Op& op,
                               const RetiredIndex& retires, fs::PinnedFolders* pins) {
    auto paths = op_paths(layout, op);
    if (!paths) return std::unexpected(paths.error());
    auto slots = read_op_slots(os, layout, op, pins);
    if (!slots) return std::unexpected(slots.error());
    OpState state = classify_op(op, slots->target, slots->slot, retires.retired_here(op));
    return Classified{std::move(*paths), *slots, state};
}

}  // namespace

p::Result<OpState> read_op_state(p::Os& os, const TreeLayout& layout, const Op& op,
                                 const RetiredIndex& retires, fs::PinnedFolders* pins) {
    auto c = classify(os, layout, op, retires, pins);
    if (!c) return std::unexpected(c.error());
    return c->state;
}

p::Status undo_op(p::Os& os, const TreeLayout& layout, const Op& op, const RetiredIndex& retires,
                  fs::PinnedFolders* pins) {
    auto c = classify(os, layout, op, retires, pins);
    if (!c) return std::unexpected(c.error());
    const ObjectProbe& t = c->slots.target;
    const ObjectProbe& r = c->slots.slot;
    switch (c->state) {
        case OpState::replaced:
            return undo_replaced(os, layout, op, c->paths, r);
        case OpState::linked:
            return undo_linked(os, c->paths, r);
        case OpState::untouched:
            return {};
        case OpState::retired:
            return undo_retired(os, layout, c->paths, r, pins);
        case OpState::added:
            return undo_added(os, layout, op, c->paths, t);
        case OpState::created:
            if (pins != nullptr) pins->release(c->paths.target);
            return undo_created_directory(os, layout, op.seq, c->paths.target);
        case OpState::foreign:
            break;
    }
    return p::foreign_identity();
}

}  // namespace holvar::txn::tree
