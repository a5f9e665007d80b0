// Placement: making one journal operation true on disk. Every step is one
// rename, hard link or directory creation of a verified object, and the
// operation first looks at what is there, so it can be repeated after a crash.
#pragma once

#include "platform/os.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/journal/journal.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree {

// add:     the payload file is renamed to the target (nothing to do when it is
//          there already).
// mkdir:   the target directory is created (nothing when it exists).
// retire:  the old object is renamed into the rollback slot.
// replace: the old file gets a second name in the rollback slot (a verified
//          hard link), then the payload file is renamed over the target in one
//          POSIX rename, so the target path is never empty.
// Fails with "foreign_identity" when the target or the rollback slot holds an
// unexpected object, or with the error of the primitive that failed; every
// object is then at its old or its new place. A run of operations passes
// the same `pins` to each, so that the folders they share are read once.
platform::Status apply_op(platform::Os& os, const TreeLayout& layout, const journal::Op& op,
                          fs::PinnedFolders* pins = nullptr);

}  // namespace holvar::txn::tree
