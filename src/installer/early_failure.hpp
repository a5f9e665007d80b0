// The report of a failure found before any driver ran: the command line, the
// transaction lock, or where the engine was started from.
#pragma once

#include <optional>
#include <string>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::installer {

// Reports the failure and returns the exit code the process must end with:
// 12 (outcome busy) or 11 (refused). With a root the report goes beside it;
// without one, two levels above the executable.
int report_early_failure(platform::Os& os, txn::outcome::Command command,
                         txn::outcome::FaultReason reason,
                         const std::optional<std::u16string>& root, int exit_code);

}  // namespace holvar::installer
