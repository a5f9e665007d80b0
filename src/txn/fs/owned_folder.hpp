// The folders the engine keeps in its stage directory ("journal", "rollback",
// "trash"): made by the engine itself with the descriptor it gives a new
// root, so that nobody else may write in them.
#pragma once

#include <string_view>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// Creates `path` with the protected descriptor when it is missing. An
// existing one (an earlier run's, or anyone's) must be a real directory,
// not a link, that passes the trust rule: "foreign_identity" otherwise.
// Returns the folder pinned (opened without delete sharing), for a caller
// that writes into it while nobody may swap it.
platform::Result<platform::Handle> ensure_owned_folder(platform::Os& os, std::u16string_view path);

}  // namespace holvar::txn::fs
