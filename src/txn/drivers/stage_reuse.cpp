#include "txn/drivers/stage_reuse.hpp"

#include "platform/win_path.hpp"
#include "txn/drivers/stage_sweep.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/test_seam.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

Fault used_stage(std::u16string_view left) {
    Fault f = plain_fault(Phase::scan, FaultReason::stage_invalid);
    f.rel = std::u16string(left);
    return f;
}

}  // namespace

StepResult refuse_used_stage(p::Os& os, const TransactionContext& ctx) {
    if (seam::broken(seam::Breakage::plan_from_used_stage)) return std::nullopt;
    auto found = journal::read_journal(os, ctx.stage_dir);
    if (found && found->has_ended()) return used_stage(u"journal");
    if (found || !found.error().is_not_found())
        return unfinished_journal(p::file_name(ctx.stage_dir).value_or(std::u16string()));
    // Folders only a run that planned makes: a crash or a restart may have
    // taken the journal while they stayed.
    for (std::u16string_view folder : {tree::kRollbackFolder, tree::kTrashFolder}) {
        auto probe = fs::probe_path(os, p::join_path(ctx.stage_dir, folder));
        if (!probe) return fault_of(probe.error(), Phase::scan, FaultReason::stage_invalid);
        if (probe->kind != fs::ObjectKind::absent) return used_stage(folder);
    }
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
