// Rollback of one operation: bringing its target back to what it was before,
// from whatever state a run (or a crash) left it in. Like placement, it looks
// first and does only what is missing, so it can be repeated.
#pragma once

#include "platform/os.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/journal/journal.hpp"
#include "txn/tree/op_state.hpp"
#include "txn/tree/retired_index.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree {

// Reads T and R, classifies the operation (with the retire of the same path
// from `retires`) and undoes what it finds:
//   replaced:  the new file keeps a name in trash\op-<seq> (a hard link), and
//              the old file is renamed back over it;
//   linked:    the extra name in the rollback slot is deleted;
//   retired:   the old object is renamed back to the target;
//   added:     the new file moves to trash\op-<seq>;
//   created:   everything inside moves to trash\dir-<seq>-<n>, then the
//              empty directory is deleted;
//   untouched: nothing; foreign: "foreign_identity".
// Every object is verified by handle before it moves. A run of undos passes
// the same `pins` to each (folders read once); a created directory's pin is
// let go before the directory is deleted.
platform::Status undo_op(platform::Os& os, const TreeLayout& layout, const journal::Op& op,
                         const RetiredIndex& retires, fs::PinnedFolders* pins = nullptr);

// The state undo_op would act on (what the rollback's classification pass reads).
platform::Result<OpState> read_op_state(platform::Os& os, const TreeLayout& layout,
                                        const journal::Op& op, const RetiredIndex& retires,
                                        fs::PinnedFolders* pins = nullptr);

// The undo of a created directory alone (the directory at `target`, which
// the operation `seq` created).
platform::Status undo_created_directory(platform::Os& os, const TreeLayout& layout, uint32_t seq,
                                        const std::u16string& target);

}  // namespace holvar::txn::tree
