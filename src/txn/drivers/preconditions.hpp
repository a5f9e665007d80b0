// Where an install, a recovery or a removal may run at all: a context can be
// built, the engine is the one in the stage directory, and the stage directory
// sits beside the root and is trusted. A failure here writes no report: the
// exit code is the only trace, since nothing says where a report may go.
#pragma once

#include <expected>
#include <string>

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

std::expected<TransactionContext, outcome::Fault> check_preconditions(
    platform::Os& os, const std::u16string& root, const std::u16string& stage_dir);

// The report of a run that failed its preconditions: refused, phase "scan",
// reason "stage_invalid"; never written.
outcome::OutcomeReport precondition_report(outcome::Command command, const outcome::Fault& fault);

}  // namespace holvar::txn::drivers
