#include "txn/drivers/recover.hpp"

#include "platform/win_path.hpp"
#include "txn/drivers/finalize.hpp"
#include "txn/drivers/preconditions.hpp"
#include "txn/drivers/recovery_steps.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/scm/scm.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using journal::MarkKind;
using outcome::OutcomeKind;

namespace {

class RecoverRun {
  public:
    RecoverRun(p::Os& os, TransactionContext& ctx) : os_(os), ctx_(ctx), run_{os, ctx, report_} {
        report_.command = outcome::Command::recover;
        report_.txid = ctx.txid;
        report_.outcome = OutcomeKind::recovery_pending;
    }

    outcome::OutcomeReport run() {
        if (load_journal() && query_service() && query_root()) act(decide());
        report_.holders = ctx_.holders;
        // A machine still in the middle of a transaction keeps its stage.
        finalize_stage(os_, report_, ctx_, ctx_.diagnostics_dir,
                       report_.outcome != OutcomeKind::recovery_pending);
        return report_;
    }

  private:
    // The journal of this stage, of this transaction, for this root.
    bool load_journal() {
        auto read = journal::read_journal(os_, ctx_.stage_dir);
        if (!read) {
            const journal::JournalReadError& e = read.error();
            if (e.is_not_found()) {
                report_.outcome = OutcomeKind::nothing_to_recover;
            } else if (e.kind == journal::JournalReadError::Kind::file) {
                run_.record(fault_of(e.file_error, Phase::scan, FaultReason::journal_corrupt));
            } else if (e.kind == journal::JournalReadError::Kind::untrusted) {
                // Never acted on: the report names what failed the trust rule.
                Fault f = plain_fault(Phase::scan, FaultReason::journal_corrupt);
                f.rel = std::u16string(e.object);
                run_.record(std::move(f));
            } else if (e.kind == journal::JournalReadError::Kind::unsupported) {
                run_.record(plain_fault(Phase::scan, FaultReason::journal_unsupported));
                report_.outcome = OutcomeKind::recovery_unsupported;
            } else {
                run_.record(plain_fault(Phase::scan, FaultReason::journal_corrupt));
            }
            return false;
        }
        if (read->txid != ctx_.txid || !p::paths_equal(read->stage.path, ctx_.stage_dir)) {
            run_.record(plain_fault(Phase::scan, FaultReason::journal_corrupt));
            return false;
        }
        // A journal of another root must not be finished against this one:
        // an install would look lost and a removal would take the registry
        // entries of an installation it never touched.
        if (!p::paths_equal(read->root.path, ctx_.root)) {
            run_.record(plain_fault(Phase::scan, FaultReason::root_mismatch));
            return false;
        }
        ctx_.journal = std::move(*read);
        return true;
    }

    bool query_service() {
        auto service = scm::scm_snapshot_settled(os_, kServiceDeadline);
        if (service) {
            service_present_ = service->config.has_value();
            return true;
        }
        if (service.error().is_win32(p::win32::service_marked_for_delete)) {
            service_present_ = false;
            marked_for_delete_ = true;
            return true;
        }
        run_.record(fault_of(service.error(), Phase::scan, FaultReason::scm_error));
        return false;
    }

    bool query_root() {
        const journal::Journal& j = *ctx_.journal;
        std::optional<fs::FileId> recorded = j.root.file_id;
        for (const journal::Mark& mark : j.marks)
            if (mark.kind == MarkKind::root_created) recorded = mark.root_id;
        auto probe = fs::probe_path(os_, ctx_.root);
        if (!probe) {
            run_.record(fault_of(probe.error(), Phase::scan, FaultReason::unsafe_object));
            return false;
        }
        if (probe->kind == fs::ObjectKind::absent) {
            root_ = RootState::absent;
        } else if (probe->kind != fs::ObjectKind::directory) {
            root_ = RootState::foreign;
        } else if (recorded) {
            root_ = probe->id == *recorded ? RootState::matches : RootState::foreign;
        } else {
            auto entries = tree::list_directory(os_, ctx_.root);
            if (!entries) {
                run_.record(fault_of(entries.error(), Phase::scan, FaultReason::unsafe_object));
                return false;
            }
            root_ = entries->empty() ? RootState::empty : RootState::not_empty;
        }
        return true;
    }

    RecoveryDecision decide() const {
        return decide_recovery(*ctx_.journal, service_present_, root_);
    }

    void act(RecoveryDecision decision) {
        switch (decision) {
            case RecoveryDecision::ended:
                return run_.close_ended_journal();
            case RecoveryDecision::root_lost:
                run_.record(plain_fault(Phase::scan, FaultReason::root_mismatch));
                return run_.close_ended_journal();
            case RecoveryDecision::remove_empty_root:
                if (run_.remove_empty_root()) run_.close_ended_journal();
                return;
            case RecoveryDecision::resume_finalize:
                return run_.resume_finalize();
            case RecoveryDecision::confirm_and_finalize:
                return run_.confirm_and_finalize();
            case RecoveryDecision::roll_back:
                return run_.roll_back();
            case RecoveryDecision::abort_removal:
                return run_.abort_removal();
            case RecoveryDecision::resume_removal:
                return run_.resume_removal(marked_for_delete_);
        }
    }

    p::Os& os_;
    TransactionContext& ctx_;
    outcome::OutcomeReport report_;
    RecoverySteps run_;
    bool service_present_ = false;
    bool marked_for_delete_ = false;
    RootState root_ = RootState::absent;
};

}  // namespace

outcome::OutcomeReport recover(p::Os& os, const std::u16string& root,
                               const std::u16string& stage_dir) {
    auto ctx = check_preconditions(os, root, stage_dir);
    if (!ctx) return precondition_report(outcome::Command::recover, ctx.error());
    // A root that cannot be looked at, or is a directory nobody may trust,
    // is refused before anything is read or written.
    auto probe = fs::probe_path(os, ctx->root);
    if (!probe ||
        (probe->kind == fs::ObjectKind::directory && !fs::is_trusted_directory(os, ctx->root)))
        return precondition_report(outcome::Command::recover,
                                   plain_fault(Phase::scan, FaultReason::stage_invalid));
    return RecoverRun(os, *ctx).run();
}

}  // namespace holvar::txn::drivers
