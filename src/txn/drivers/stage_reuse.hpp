// A stage is used once. A run that planned from a stage has changed its
// payload (moved into the root, or taken to the trash by a rollback) and
// left its bookkeeping there; planning from it again would install whatever
// is left of the payload over the installation. So the run that starts must
// find the stage as the setup program made it.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/run_support.hpp"

namespace holvar::txn::drivers {

// Nothing when no earlier run of this stage got as far as planning: no
// journal, no "rollback" and no "trash" folder. Otherwise the fault that ends
// the run before it changes anything:
// - a journal that has not ended (or cannot be read) is another run's
//   unfinished work, kept for `--recover`: scan / "foreign_unfinished_journal"
//   with rel = the stage's own name (recovery_pending);
// - an ended journal, or a "rollback" or "trash" folder left behind: scan /
//   "stage_invalid" with rel = that name ("journal", "rollback", "trash"),
//   and the run is refused.
// Either way the stage is left exactly as it is.
StepResult refuse_used_stage(platform::Os& os, const TransactionContext& ctx);

}  // namespace holvar::txn::drivers
