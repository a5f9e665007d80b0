// Deleting everything under a directory except the kept paths, for the
// removal and for cleaning stage directories: locked entries are waited for
// within one shared budget, then moved into the trash or scheduled for
// deletion at the next restart, and nothing is ever followed through a link.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "txn/fs/retry_budget.hpp"
#include "txn/tree/holders.hpp"

namespace holvar::txn::tree {

enum class DeletionStatus : uint8_t { deleted = 0, scheduled = 1, failed = 2 };

struct DeletionItem {
    std::u16string rel;  // relative to the base; "." for the base itself
    DeletionStatus status = DeletionStatus::failed;
    friend bool operator==(const DeletionItem&, const DeletionItem&) = default;
};

struct TreeDeletion {
    std::vector<DeletionItem> items;  // one per entry handled, entries before their folder
    std::vector<std::u16string> reboot_pending;  // rels left for the next restart
    std::optional<uint32_t> schedule_error;      // the first Win32 error of a scheduling
};

// The base is pinned (listed, and held without delete sharing) and verified as
// the directory at its path; if that fails the only item is "." failed.
// Each entry not kept (a kept path, or anything under one, is skipped; rels
// are compared by component with ASCII case folding) is opened without
// following links, retrying on a lock within `budget`, verified, and deleted
// with POSIX semantics, again retrying within the same budget. A directory is
// emptied first and left in place when it holds a kept path. An entry that
// stays locked: on the first such failure of the whole deletion the holder
// query runs on its path and its answer goes into `holders`; then an open
// entry is moved to trash\tree-<pid>-<n> and scheduled for deletion at
// restart from there (an entry that could not be opened, from where it is),
// its rel joining the reboot-pending list. A directory left non-empty is
// scheduled only when everything still in it is already scheduled. Any other
// failure marks the item failed and the walk goes on.
TreeDeletion delete_tree(platform::Os& os, std::u16string_view base,
                         std::span<const std::u16string> keep, std::u16string_view trash,
                         fs::RetryBudget& budget, HolderSlot& holders);

}  // namespace holvar::txn::tree
