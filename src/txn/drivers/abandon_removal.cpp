#include "txn/drivers/abandon_removal.hpp"

#include "txn/scm/scm.hpp"

namespace holvar::txn::drivers {

StepResult restore_service_and_abort(platform::Os& os, TransactionContext& ctx) {
    if (!ctx.journal) return plain_fault(Phase::remove_service, FaultReason::journal_corrupt);
    if (auto restored =
            scm::scm_restore(os, ctx.journal->scm_before, ctx.journal->service_running_before);
        !restored)
        return fault_of(restored.error(), Phase::remove_service, FaultReason::scm_error);
    if (auto marked = write_mark(os, ctx, journal::MarkKind::aborted); !marked)
        return fault_of(marked.error(), Phase::remove_service, FaultReason::journal_write_failed);
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
