#include "txn/drivers/remove.hpp"

#include "platform/win_path.hpp"
#include "txn/drivers/abandon_removal.hpp"
#include "txn/drivers/fault_slots.hpp"
#include "txn/drivers/finalize.hpp"
#include "txn/drivers/preconditions.hpp"
#include "txn/drivers/remove_after_service.hpp"
#include "txn/drivers/root_match.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/drivers/stage_reuse.hpp"
#include "txn/drivers/stage_sweep.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/root_identity.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/registry/registry.hpp"
#include "txn/scm/scm.hpp"
#include "txn/test_seam.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using journal::MarkKind;
using outcome::OutcomeKind;
using outcome::OutcomeReport;

namespace {

class RemovalRun {
  public:
    RemovalRun(p::Os& os, TransactionContext& ctx, bool purge)
        : os_(os), ctx_(ctx), purge_(purge) {}

    // Everything before the first change: the checks, then the journal on
    // disk with "planned". A fault here leaves the machine as it was.
    StepResult plan() {
        // A stage an earlier run planned from (its journal, finished or
        // kept for `--recover`, or its bookkeeping) is never used again.
        if (StepResult failed = refuse_used_stage(os_, ctx_)) {
            stage_not_ours_ = true;
            return failed;
        }
        if (StepResult failed = sweep_sibling_stages(os_, ctx_)) return failed;
        if (StepResult failed = check_installation()) return failed;
        if (StepResult failed = capture_identities()) return failed;
        return create_journal();
    }

    bool stage_not_ours() const { return stage_not_ours_; }

    // The service stopped (when there is one) and deleted; the mark says
    // whether it is gone or only marked for deletion.
    StepResult remove_service() {
        if (service_.config) {
            if (auto stopped = scm::scm_stop(os_, kServiceDeadline); !stopped)
                return fault_of(stopped.error(), Phase::remove_service,
                                FaultReason::service_stop_timeout);
        }
        auto deleted = scm::scm_delete(os_);
        if (!deleted)
            return fault_of(deleted.error(), Phase::remove_service, FaultReason::scm_error);
        if (seam::broken(seam::Breakage::mark_after_step)) {
            if (auto marked = write_mark(os_, ctx_, MarkKind::planned); !marked)
                return fault_of(marked.error(), Phase::remove_service,
                                FaultReason::journal_write_failed);
        }
        const MarkKind mark = *deleted == scm::DeleteResult::deleted
                                  ? MarkKind::service_deleted
                                  : MarkKind::service_delete_pending;
        if (auto marked = write_mark(os_, ctx_, mark); !marked)
            return fault_of(marked.error(), Phase::remove_service,
                            FaultReason::journal_write_failed);
        return std::nullopt;
    }

  private:
    // A trusted root with a parent, which the installed service and the
    // recorded install location both name.
    StepResult check_installation() {
        if (auto trusted = fs::is_trusted_directory(os_, ctx_.root); !trusted)
            return fault_of(trusted.error(), Phase::remove_plan, FaultReason::unsafe_object);
        // A service still starting (the first moments after a restart) is
        // waited for, as a recovery does, rather than refused.
        auto service = scm::scm_snapshot_settled(os_, kServiceDeadline);
        if (!service) return fault_of(service.error(), Phase::remove_plan, FaultReason::scm_error);
        service_ = std::move(*service);
        auto location = registry::registry_read_install_location(os_);
        if (!location)
            return fault_of(location.error(), Phase::remove_plan, FaultReason::registry_failed);
        if (!root_matches(ctx_.root, service_, *location))
            return plain_fault(Phase::remove_plan, FaultReason::root_mismatch);
        // Nothing at all ties the folder to the product (no service, no
        // recorded location, none of its files): a slip of the command line
        // must never empty a folder like ProgramData.
        if (!service_.config && !*location && !holds_product_files())
            return plain_fault(Phase::remove_plan, FaultReason::root_mismatch);
        if (!p::parent_path(ctx_.root))
            return plain_fault(Phase::remove_plan, FaultReason::unsafe_object);
        return std::nullopt;
    }

    // The service's image or the uninstaller, as plain files under the root.
    bool holds_product_files() {
        const std::u16string evidence[] = {
            p::join_path(p::join_path(ctx_.root, u"resources"), u"holvar-service.exe"),
            p::join_path(ctx_.root, u"uninstall.exe")};
        for (const std::u16string& path : evidence) {
            auto probe = fs::probe_path(os_, path);
            if (probe && probe->kind == fs::ObjectKind::file) return true;
        }
        return false;
    }

    StepResult capture_identities() {
        auto root = fs::capture_root_identity(os_, ctx_.root, true);
        auto stage = fs::capture_root_identity(os_, ctx_.stage_dir, true);
        if (!root || !stage) return plain_fault(Phase::remove_plan, FaultReason::unsafe_object);
        root_ = std::move(*root);
        stage_ = std::move(*stage);
        return std::nullopt;
    }

    StepResult create_journal() {
        journal::Journal j;
        j.kind = journal::JournalKind::remove;
        j.txid = ctx_.txid;
        j.engine_version = std::string(journal::engine_version);
        j.root = std::move(root_);
        j.stage = std::move(stage_);
        j.scm_before = service_.config;
        j.service_running_before = service_.running;
        j.options.purge_session_vault = purge_;
        ctx_.journal = std::move(j);
        // "planned" is on disk before the service is touched: a crash from
        // here on is finished or undone by --recover.
        if (seam::broken(seam::Breakage::mark_after_step)) return std::nullopt;
        if (auto marked = write_mark(os_, ctx_, MarkKind::planned); !marked) {
            // No mark reached disk and nothing was changed: the run ends like
            // any refused one, with no service to put back.
            ctx_.journal.reset();
            return fault_of(marked.error(), Phase::remove_plan, FaultReason::journal_write_failed);
        }
        return std::nullopt;
    }

    p::Os& os_;
    TransactionContext& ctx_;
    const bool purge_;
    bool stage_not_ours_ = false;
    scm::ScmSnapshot service_;
    fs::RootIdentity root_;
    fs::RootIdentity stage_;
};

// A failure before anything changed: another transaction unfinished beside
// the root waits for `--recover`; anything else is refused.
void end_unchanged(OutcomeReport& report, Fault fault) {
    report.outcome = fault.reason == FaultReason::foreign_unfinished_journal
                         ? OutcomeKind::recovery_pending
                         : OutcomeKind::refused;
    report.primary = std::move(fault);
}

// A failure while the service was being taken away. Once it is deleted
// there is no way back, and the removal is incomplete; before that the
// service is put back and the removal refused, or, when even that fails,
// left for `--recover`.
void abandon_removal(p::Os& os, TransactionContext& ctx, OutcomeReport& report, Fault fault) {
    report.primary = std::move(fault);
    if (ctx.journal->has_mark(MarkKind::service_deleted) ||
        ctx.journal->has_mark(MarkKind::service_delete_pending)) {
        report.outcome = OutcomeKind::remove_incomplete;
        return;
    }
    if (StepResult failed = restore_service_and_abort(os, ctx)) {
        report.outcome = OutcomeKind::recovery_pending;
        record_fault(report, std::move(*failed));
        return;
    }
    report.outcome = OutcomeKind::refused;
}

}  // namespace

OutcomeReport remove(p::Os& os, const std::u16string& root, const std::u16string& stage_dir,
                     bool purge_session_vault) {
    auto ctx = check_preconditions(os, root, stage_dir);
    if (!ctx) return precondition_report(outcome::Command::remove, ctx.error());

    OutcomeReport report;
    report.command = outcome::Command::remove;
    report.txid = ctx->txid;
    RemovalRun run(os, *ctx, purge_session_vault);
    if (StepResult failed = run.plan()) {
        end_unchanged(report, std::move(*failed));
    } else if (StepResult failed = run.remove_service()) {
        abandon_removal(os, *ctx, report, std::move(*failed));
    } else {
        report.outcome = remove_after_service(os, *ctx, report);
    }
    // The stage goes only when the journal says the removal ended (finalized
    // or aborted) or none was made; an unfinished one stays for `--recover`,
    // and one an earlier run used stays exactly as that run left it.
    finalize_stage(os, report, *ctx, ctx->diagnostics_dir, !run.stage_not_ours());
    return report;
}

}  // namespace holvar::txn::drivers
