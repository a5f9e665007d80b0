// The end of every transaction: the install's finalize step after its commit
// (registry entries, stale folders), and the end of the stage directory's
// bookkeeping with the outcome report.
#pragma once

#include <optional>
#include <string>

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

// "finalizing", the registry entries for the root, the stale directories
// removed, "finalized". Never fails the run: the first failure is kept as the
// context's deferred finalize fault and the result says that finalizing is
// still pending (true).
bool finalize_install(platform::Os& os, TransactionContext& ctx);

// With `cleanup`, and only when the journal in the stage has ended (or there
// is none and the run made none), the folders "payload", "rollback", "trash"
// and "journal" of the stage go, each emptied and deleted, or scheduled for
// the next restart when something in it stays locked. Then, with a
// diagnostics directory, the report and "diag.txt" are written. The run's
// operations are released first: the outcome is decided, and reading the
// journal back needs room for another copy of them.
void finalize_stage(platform::Os& os, const outcome::OutcomeReport& report, TransactionContext& ctx,
                    const std::optional<std::u16string>& diagnostics_dir, bool cleanup);

}  // namespace holvar::txn::drivers
