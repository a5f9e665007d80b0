#include "txn/drivers/stage_folders.hpp"

#include "txn/drivers/delete_now_or_at_reboot.hpp"

#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/retrying.hpp"
#include "txn/tree/delete_tree.hpp"
#include "txn/tree/reboot_schedule.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

// Opens the directory for deletion and deletes it when it is still `id`.
p::Status delete_emptied_directory(p::Os& os, const std::u16string& path, const fs::FileId& id) {
    auto handle = fs::open_object(os, path, fs::kRenameDeleteAccess);
    if (!handle) return std::unexpected(handle.error());
    auto identity = fs::read_identity(os, *handle);
    if (!identity) return std::unexpected(identity.error());
    if (!identity->probe().is(fs::ObjectKind::directory, id)) return p::foreign_identity();
    return fs::delete_by_handle(os, *handle);
}

}  // namespace

FolderRemoval remove_stage_folder(p::Os& os, const std::u16string& path, const fs::FileId& id,
                                  const std::u16string& trash, fs::RetryBudget& budget,
                                  bool schedule_when_locked) {
    tree::HolderSlot no_holder_query;
    (void)tree::delete_tree(os, path, {}, trash, budget, no_holder_query);
    p::Status deleted = delete_emptied_directory(os, path, id);
    if (deleted) return FolderRemoval::removed;
    if (deleted.error().is_win32(p::win32::file_not_found) ||
        deleted.error().is_win32(p::win32::path_not_found))
        return FolderRemoval::removed;
    if (!schedule_when_locked || !waits_for_restart(deleted.error())) return FolderRemoval::failed;
    tree::RebootSchedule schedule;
    if (!schedule.schedule_delete_at_reboot(os, path)) return FolderRemoval::failed;
    return FolderRemoval::scheduled;
}

}  // namespace holvar::txn::drivers
