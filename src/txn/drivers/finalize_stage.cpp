#include "platform/win_path.hpp"
#include "txn/drivers/finalize.hpp"
#include "txn/drivers/stage_folders.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/outcome/report_file.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

constexpr auto kCleaningBudget = std::chrono::seconds(30);

// The stage's bookkeeping may go only when its journal positively says the
// transaction ended, or when there is none and this run made none.
bool stage_may_be_cleaned(p::Os& os, const TransactionContext& ctx) {
    auto on_disk = journal::read_journal(os, ctx.stage_dir);
    if (on_disk) return on_disk->has_ended();
    if (!on_disk.error().is_not_found()) return false;
    return !ctx.journal || ctx.journal->marks.empty();
}

// The folders in this order; the journal last, so that a crash while cleaning
// leaves a journal that still says the transaction ended.
void clean_stage(p::Os& os, const TransactionContext& ctx) {
    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    const std::u16string folders[] = {layout.payload, layout.rollback, layout.trash,
                                      journal::journal_directory(ctx.stage_dir)};
    fs::RetryBudget budget(kCleaningBudget);
    for (const std::u16string& folder : folders) {
        auto probe = fs::probe_path(os, folder);
        if (!probe) return;
        // A folder this run never made (a fresh install has no rollback
        // folder) is already clean.
        if (probe->kind == fs::ObjectKind::absent) continue;
        if (probe->kind != fs::ObjectKind::directory) return;
        if (remove_stage_folder(os, folder, probe->id, layout.trash, budget, true) ==
            FolderRemoval::failed)
            return;
    }
}

}  // namespace

void finalize_stage(p::Os& os, const outcome::OutcomeReport& report, TransactionContext& ctx,
                    const std::optional<std::u16string>& diagnostics_dir, bool cleanup) {
    // Not needed once the outcome is decided, and the journal read back
    // below would otherwise hold a second copy of them.
    if (ctx.journal) std::vector<journal::Op>().swap(ctx.journal->ops);
    if (cleanup && stage_may_be_cleaned(os, ctx)) clean_stage(os, ctx);
    if (diagnostics_dir)
        (void)outcome::write_outcome_report(os, ctx.stage_dir, *diagnostics_dir, report);
}

}  // namespace holvar::txn::drivers
