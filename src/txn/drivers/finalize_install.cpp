#include "txn/drivers/finalize.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/plan/name_rules.hpp"
#include "txn/plan/stale_directories.hpp"
#include "txn/registry/registry.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

StepResult finalize_steps(p::Os& os, TransactionContext& ctx) {
    // A recovery that resumes a finalize, or that has just confirmed the
    // commit, finds "finalizing" already last: it is not written twice.
    const bool begun = ctx.journal && !ctx.journal->marks.empty() &&
                       ctx.journal->marks.back().kind == journal::MarkKind::finalizing;
    if (auto marked =
            begun ? platform::Status{} : write_mark(os, ctx, journal::MarkKind::finalizing);
        !marked)
        return fault_of(marked.error(), Phase::finalize, FaultReason::journal_write_failed);
    if (auto written = registry::registry_write_entries(os, ctx.root, ctx.payload_bytes); !written)
        return fault_of(written.error(), Phase::finalize, FaultReason::registry_failed);
    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    if (auto removed = plan::remove_stale_directories(
            os, ctx.root, layout.payload, ctx.stale_directories, plan::default_generated_items());
        !removed)
        return fault_of(removed.error(), Phase::finalize, FaultReason::unsafe_object);
    if (auto marked = write_mark(os, ctx, journal::MarkKind::finalized); !marked)
        return fault_of(marked.error(), Phase::finalize, FaultReason::journal_write_failed);
    return std::nullopt;
}

}  // namespace

bool finalize_install(p::Os& os, TransactionContext& ctx) {
    StepResult failed = finalize_steps(os, ctx);
    if (!failed) return false;
    ctx.deferred_finalize_fault = std::move(failed);
    return true;
}

}  // namespace holvar::txn::drivers
