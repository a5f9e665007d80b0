// The removal from the runtime on, once the service is deleted: the
// runtime's processes, the maintenance commands, the tree, the registry, the
// uninstaller and the root, then what waits for the restart. Written to be run
// again on a half-done removal (by `--recover`): steps the journal marks as
// done are skipped, and the deletions find their finished work gone.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

// Takes the removal journal from `ctx.journal` and writes its marks there.
// Fills the report's "maintenance" and "reboot_pending" lists, its holders
// section (when the tree deletion asked who holds a locked file) and its
// fault slots (the first free one for each fault met; a fault that ends the
// removal early is recorded the same way). Returns removed,
// removed_reboot_pending (both with the journal marked "finalized") or
// remove_incomplete (journal left unfinished for `--recover`).
outcome::OutcomeKind remove_after_service(platform::Os& os, TransactionContext& ctx,
                                          outcome::OutcomeReport& report);

}  // namespace holvar::txn::drivers
