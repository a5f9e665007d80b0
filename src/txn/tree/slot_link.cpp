#include "txn/tree/slot_link.hpp"

#include <vector>

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/owned_folder.hpp"
#include "txn/fs/verified_hard_link.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::txn::tree {

namespace p = platform;

p::Status link_verified(p::Os& os, std::u16string_view existing, const fs::FileId& id,
                        std::u16string_view link) {
    auto handle = fs::open_object(os, existing, fs::kProbeAccess);
    if (!handle) return std::unexpected(handle.error());
    if (auto ok = fs::verify_handle(os, *handle, fs::ObjectKind::file, id, existing); !ok)
        return ok;
    return fs::create_verified_hard_link(os, existing, link, id);
}

p::Status ensure_slot_parents(p::Os& os, const TreeLayout& layout, const OpPaths& paths,
                              fs::PinnedFolders* pins) {
    // The rollback folder is the engine's own: made protected, or trusted
    // when found, once a run (then it is pinned).
    const std::u16string rollback = p::join_path(layout.stage, std::u16string(kRollbackFolder));
    if (pins == nullptr || !pins->holds(rollback))
        if (auto owned = fs::ensure_owned_folder(os, rollback); !owned)
            return std::unexpected(owned.error());
    std::vector<std::u16string> folders;
    folders.reserve(paths.components.size());
    folders.emplace_back(kRollbackFolder);
    folders.insert(folders.end(), paths.components.begin(), paths.components.end() - 1);
    return ensure_directories(os, layout.stage, folders, pins);
}

}  // namespace holvar::txn::tree
