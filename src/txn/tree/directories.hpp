// Folders the tree operations create or rely on, checked one component at a
// time from a trusted base, so that nothing is ever created or moved through
// a junction or symbolic link that took the place of a folder.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "txn/fs/pinned_folders.hpp"

namespace holvar::txn::tree {

// base\c1, base\c1\c2, ... each made a directory: an existing plain directory
// is kept, a missing one is created (default security, inherited from its
// parent), anything else fails with "foreign_identity". Existing folders are
// read through `pins` when given.
platform::Status ensure_directories(platform::Os& os, std::u16string_view base,
                                    std::span<const std::u16string> components,
                                    fs::PinnedFolders* pins = nullptr);

// Every proper ancestor of base\components below base is a plain directory,
// so that a name created at the end of the path lands under base. Nothing to
// check for a single component. Fails with "foreign_identity" otherwise.
// The folders are read through `pins` when given.
platform::Status require_plain_parents(platform::Os& os, std::u16string_view base,
                                       std::span<const std::u16string> components,
                                       fs::PinnedFolders* pins = nullptr);

// What a directory lists, without "." and "..": FindFirstFileExW on dir\*;
// a listing with no match at all is empty.
platform::Result<std::vector<platform::FindData>> list_entries(platform::Os& os,
                                                               std::u16string_view dir);
// The names alone.
platform::Result<std::vector<std::u16string>> list_directory(platform::Os& os,
                                                             std::u16string_view dir);

}  // namespace holvar::txn::tree
