// `--remove`: stop and delete the service, end the runtime's processes, run
// the desktop client's maintenance commands, delete the runtime's files, the
// registry entries, the uninstaller and the root, and leave for the next
// restart what stays locked; or, when the service cannot be taken away, put
// it back and change nothing.
#pragma once

#include <string>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

// The finished report (command "remove"), already written (unless the run
// failed before it knew where a report may go).
outcome::OutcomeReport remove(platform::Os& os, const std::u16string& root,
                              const std::u16string& stage_dir, bool purge_session_vault);

}  // namespace holvar::txn::drivers
