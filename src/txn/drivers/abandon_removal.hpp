// Giving up a removal before its service was deleted: the service is put
// back as the journal recorded it and the journal ends "aborted", so the
// machine is as it was and the stage may go.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/run_support.hpp"

namespace holvar::txn::drivers {

// With the journal's `scm_before` the service is reconfigured to it, and
// started and awaited (30 seconds) when `service_running_before` is set;
// without one it is deleted. Then mark "aborted". Failures:
// remove_service / "scm_error" for the restore (the journal then stays
// unfinished, for `--recover` to try again), remove_service /
// "journal_write_failed" for the mark, remove_service / "journal_corrupt"
// without a journal.
StepResult restore_service_and_abort(platform::Os& os, TransactionContext& ctx);

}  // namespace holvar::txn::drivers
