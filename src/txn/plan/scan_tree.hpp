// Taking the inventory of a tree without following links and without letting
// it change under the walk.
#pragma once

#include <string>
#include <vector>

#include "platform/os.hpp"
#include "txn/plan/tree_inventory.hpp"

namespace holvar::txn::plan {

// Everything below `base`, by relative path, except what `exclusions` cover.
// Each directory is held open without delete sharing while it is listed and
// while its subtree is walked, and is verified to be the directory at its path
// first; each entry is opened without following links and verified against the
// kind it was listed with and its path. A reparse point is recorded, never
// entered. Fails with invalid data "unsafe name" (not valid Unicode or not a
// safe relative name), invalid data "duplicate name" (two names equal under
// ASCII case folding), "foreign_identity" (an entry changed between listing and
// opening), or the Win32 error of an open, a query or a listing.
platform::Result<TreeInventory> scan_tree(platform::Os& os, const std::u16string& base,
                                          const std::vector<std::u16string>& exclusions);

}  // namespace holvar::txn::plan
