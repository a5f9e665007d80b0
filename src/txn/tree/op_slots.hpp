// Reading what an operation finds: the object at its target under the root
// and the object in its rollback slot, each through the relative-path walk
// that reads a path through a link as absent.
#pragma once

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/journal/journal.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree {

struct OpSlots {
    fs::ObjectProbe target;  // T: root\rel
    fs::ObjectProbe slot;    // R: rollback\rel (read for replaces and retires only)
};

// T, and R for the operation kinds that use a rollback slot; an add or mkdir
// never has one, so R reads absent for them without a probe.
platform::Result<OpSlots> read_op_slots(platform::Os& os, const TreeLayout& layout,
                                        const journal::Op& op, fs::PinnedFolders* pins = nullptr);

// The folders on the way are read through `pins` when given.
platform::Result<fs::ObjectProbe> read_target(platform::Os& os, const TreeLayout& layout,
                                              const journal::Op& op,
                                              fs::PinnedFolders* pins = nullptr);
platform::Result<fs::ObjectProbe> read_slot(platform::Os& os, const TreeLayout& layout,
                                            const journal::Op& op,
                                            fs::PinnedFolders* pins = nullptr);

}  // namespace holvar::txn::tree
