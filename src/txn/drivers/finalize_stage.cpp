#include "platform/win_path.hpp"
#include "txn/drivers/finalize.hpp"
#include "txn/drivers/stage_folders.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/outcome/report_file.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/reboot_schedule.hpp"
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

// The journal's folder at the next restart, after everything scheduled
// before it: its entries first, then the folder, so it is empty by its turn.
void schedule_journal_at_restart(p::Os& os, const std::u16string& folder) {
    auto names = tree::list_directory(os, folder);
    if (!names) return;
    tree::RebootSchedule schedule;
    for (const std::u16string& name : *names)
        if (!schedule.schedule_delete_at_reboot(os, p::join_path(folder, name))) return;
    (void)schedule.schedule_delete_at_reboot(os, folder);
}

// The folders in this order, and the journal last, only once the other three
// are really gone: while anything of the transaction is still in the stage,
// a journal that says it ended stays beside it, so that no later run takes
// the stage for a fresh one. When something waits for the restart, the
// journal waits too and goes after it; when something could not go at all,
// the journal stays.
void clean_stage(p::Os& os, const TransactionContext& ctx) {
    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    const std::u16string folders[] = {layout.payload, layout.rollback, layout.trash};
    fs::RetryBudget budget(kCleaningBudget);
    bool waiting = false;
    for (const std::u16string& folder : folders) {
        auto probe = fs::probe_path(os, folder);
        if (!probe) return;
        // A folder this run never made (a fresh install has no rollback
        // folder) is already clean.
        if (probe->kind == fs::ObjectKind::absent) continue;
        if (probe->kind != fs::ObjectKind::directory) return;
        FolderRemoval removal =
            remove_stage_folder(os, folder, probe->id, layout.trash, budget, true);
        if (removal == FolderRemoval::failed) return;
        waiting = waiting || removal == FolderRemoval::scheduled;
    }
    const std::u16string folder = journal::journal_directory(ctx.stage_dir);
    auto probe = fs::probe_path(os, folder);
    if (!probe || probe->kind != fs::ObjectKind::directory) return;
    if (waiting) return schedule_journal_at_restart(os, folder);
    // Its own trash: a journal file somebody holds waits for the restart in
    // its folder rather than bring back the trash folder just deleted.
    (void)remove_stage_folder(os, folder, probe->id, folder, budget, true);
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
