#include "txn/drivers/place.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/fs/retrying.hpp"
#include "txn/tree/apply_op.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

StepResult place_operations(p::Os& os, TransactionContext& ctx) {
    if (!ctx.journal) return plain_fault(Phase::place, FaultReason::journal_corrupt);
    if (auto marked = write_mark(os, ctx, journal::MarkKind::placing); !marked)
        return fault_of(marked.error(), Phase::place, FaultReason::journal_write_failed);

    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    fs::RetryBudget budget(kPlacementBudget);
    // The folders the operations pass are read once and held until the
    // placement ends, not walked again from the root for every file.
    fs::PinnedFolders pins;
    for (const journal::Op& op : ctx.journal->ops) {
        p::Status placed =
            fs::retry_within(os, budget, [&] { return tree::apply_op(os, layout, op, &pins); });
        if (placed) continue;
        if (fs::is_retryable(placed.error())) {
            record_holders(os, ctx, p::join_path(ctx.root, op.rel));
            // Nobody holds the installed file: the lock is on the payload's.
            if (ctx.holders.status == outcome::HolderStatus::ok && ctx.holders.processes.empty())
                record_holders(os, ctx, p::join_path(layout.payload, op.rel));
            return fault_at(placed.error(), Phase::place, FaultReason::sharing_violation, op.rel);
        }
        return fault_at(placed.error(), Phase::place, FaultReason::foreign_identity, op.rel);
    }
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
