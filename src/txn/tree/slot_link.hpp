// Giving a verified file a second name: how a replaced file keeps a name in
// the rollback folder, and how the undo of a replace keeps the new file.
#pragma once

#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree {

// Opens `existing` for attributes only, confirms it is the file `id` at that
// path, and with that handle still open makes `link` a second name of it
// (a verified hard link). The handle is closed on every path.
platform::Status link_verified(platform::Os& os, std::u16string_view existing, const fs::FileId& id,
                               std::u16string_view link);

// The rollback folder and the folders above an operation's rollback slot
// (existing ones read through `pins` when given).
platform::Status ensure_slot_parents(platform::Os& os, const TreeLayout& layout,
                                     const OpPaths& paths, fs::PinnedFolders* pins = nullptr);

}  // namespace holvar::txn::tree
