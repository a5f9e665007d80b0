// The undo of a mkdir: whatever appeared inside the directory the transaction
// created (files the new service wrote, say) is kept in the trash rather than
// destroyed, and only the empty directory is deleted.
#include <limits>

#include "platform/win_path.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/trash.hpp"
#include "txn/tree/undo_op.hpp"

namespace holvar::txn::tree {

namespace p = platform;
using fs::ObjectKind;

namespace {

// Moves one verified entry to the first free trash\dir-<seq>-<n>, n from
// `next` on; `next` then points past the name used.
p::Status move_entry_to_trash(p::Os& os, const TreeLayout& layout, uint32_t seq,
                              const std::u16string& entry, uint64_t& next) {
    auto handle = fs::open_object(os, entry, fs::kRenameDeleteAccess);
    if (!handle) return std::unexpected(handle.error());
    auto identity = fs::read_identity(os, *handle);
    if (!identity) return std::unexpected(identity.error());
    if (auto ok = fs::verify_handle(os, *handle, *identity, identity->kind, identity->id, entry);
        !ok)
        return ok;
    constexpr uint64_t last = std::numeric_limits<uint64_t>::max();
    while (true) {
        uint64_t n = next;
        std::u16string away = p::join_path(layout.trash, trash_dir_entry_name(seq, n));
        auto there = fs::probe_path(os, away);
        if (!there) return std::unexpected(there.error());
        if (there->kind == ObjectKind::absent) {
            next = n == last ? n : n + 1;
            return fs::rename_by_handle(os, *handle, away, false);
        }
        if (n == last) return p::fail(p::ErrorKind::other, "trash exhausted");
        next = n + 1;
    }
}

}  // namespace

p::Status undo_created_directory(p::Os& os, const TreeLayout& layout, uint32_t seq,
                                 const std::u16string& target) {
    if (auto made = ensure_trash_folder(os, layout.trash); !made) return made;
    {
        // Pinned while it is emptied: nobody can move or delete it meanwhile.
        auto pin = fs::open_object(os, target, fs::kPinAccess, fs::kPinShare);
        if (!pin) return std::unexpected(pin.error());
        if (auto ok = fs::verify_handle(os, *pin, ObjectKind::directory, fs::FileId{}, target); !ok)
            return ok;
        auto names = list_directory(os, target);
        if (!names) return std::unexpected(names.error());
        uint64_t next = 0;
        for (const std::u16string& name : *names) {
            if (auto moved = move_entry_to_trash(os, layout, seq, p::join_path(target, name), next);
                !moved)
                return moved;
        }
    }
    auto handle = fs::open_object(os, target, fs::kRenameDeleteAccess);
    if (!handle) return std::unexpected(handle.error());
    if (auto ok = fs::verify_handle(os, *handle, ObjectKind::directory, fs::FileId{}, target); !ok)
        return ok;
    return fs::delete_by_handle(os, *handle);
}

}  // namespace holvar::txn::tree
