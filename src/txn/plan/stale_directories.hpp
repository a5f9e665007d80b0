// Removing, once an install has committed, the installed directories that the
// new payload no longer has, when nothing is left in them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/os.hpp"

namespace holvar::txn::plan {

// `stale` is the list planning left (relative to `root`); when there is none
// (a finalize started by recovery) it is computed afresh: the directories of
// the installed tree, generated items excluded, that `payload_dir` lacks.
// Deepest first, each directory that is empty is opened without following
// links, verified to be the directory at its path, and deleted by handle; one
// that holds anything stays, one already gone is skipped. The first failure
// ends the step with its error.
platform::Status remove_stale_directories(platform::Os& os, const std::u16string& root,
                                          const std::u16string& payload_dir,
                                          const std::optional<std::vector<std::u16string>>& stale,
                                          const std::vector<std::u16string>& generated);

}  // namespace holvar::txn::plan
