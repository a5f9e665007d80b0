// The trash: the stage directory's folder into which objects move when they
// must leave a path but cannot be deleted at once. Its entries have generated
// names, so nothing that lands there ever takes another's place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handle.hpp"
#include "platform/os.hpp"

namespace holvar::txn::tree {

// "op-<seq>": what the undo of an operation moves (or links) out of the way.
std::u16string trash_op_name(uint32_t seq);
// "dir-<seq>-<n>": each entry found inside a directory the undo of a mkdir removes.
std::u16string trash_dir_entry_name(uint32_t seq, uint64_t n);
// "tree-<pid>-<n>": an object a tree deletion cannot delete at once.
std::u16string trash_tree_name(uint32_t pid, uint32_t n);

// How many "tree-<pid>-<n>" names one process tries before it gives up.
inline constexpr uint32_t kTreeTrashNames = 1000;

// The trash folder itself, created with the protected descriptor when missing
// (its parent, the stage directory, must exist); anything at its path but a
// real directory that passes the trust rule is "foreign_identity".
platform::Status ensure_trash_folder(platform::Os& os, std::u16string_view trash);

// Renames the open object to trash\tree-<pid>-<n> for the first n from 0 to
// 999 whose name is free, and returns the new path. A taken name (80 or 183)
// moves on to the next; any other error, or the thousandth taken name, fails
// with that error and the object stays where it was.
platform::Result<std::u16string> move_to_trash(platform::Os& os, const platform::Handle& handle,
                                               std::u16string_view trash);

}  // namespace holvar::txn::tree
