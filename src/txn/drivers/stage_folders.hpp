// Deleting the bookkeeping of stage directories: a whole sibling stage left by
// an earlier, finished transaction, and the folders of the run's own stage once
// its journal has ended. Nothing is followed through a link, and a directory
// is deleted only while it is still the object that was looked at.
#pragma once

#include <string>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/retry_budget.hpp"

namespace holvar::txn::drivers {

enum class FolderRemoval : uint8_t {
    removed,    // gone now (or was never there)
    scheduled,  // still there, deleted at the next restart
    failed,     // left as it was found, or partly emptied
};

// Empties the directory `path` (which must still be the directory `id`) with
// the tree deletion, using `trash` for what stays locked, then reopens it for
// deletion and deletes it if it is still `id`. When the deletion meets a lock
// or entries left behind (5, 32, 33, 145, 1224) and `schedule_when_locked` is
// set, the directory is scheduled for deletion at the next restart instead.
FolderRemoval remove_stage_folder(platform::Os& os, const std::u16string& path,
                                  const fs::FileId& id, const std::u16string& trash,
                                  fs::RetryBudget& budget, bool schedule_when_locked);

}  // namespace holvar::txn::drivers
