// `--repair`: bring the service of an existing installation back to the
// configuration an install gives it, then start and verify it. Run from the
// installation's own copy of the engine; no stage directory, no journal, no
// file or registry entry touched.
#pragma once

#include <string>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

// The finished report (txid "none"), already written into the diagnostics
// directory beside the root, unless the root has no parent or cannot be made
// absolute.
outcome::OutcomeReport repair(platform::Os& os, const std::u16string& root);

}  // namespace holvar::txn::drivers
