// `--apply`: install or upgrade the runtime under the root from the stage's
// payload, configure, start and verify the service, and commit; or leave the
// machine as it was; or, when even that fails, leave the journal for
// `--recover`.
#pragma once

#include <string>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

// The finished report, already written (unless the run failed before it knew
// where a report may go).
outcome::OutcomeReport apply(platform::Os& os, const std::u16string& root,
                             const std::u16string& stage_dir);

}  // namespace holvar::txn::drivers
