#include "txn/drivers/apply.hpp"

#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/drivers/finalize.hpp"
#include "txn/drivers/install_scan.hpp"
#include "txn/drivers/place.hpp"
#include "txn/drivers/preconditions.hpp"
#include "txn/drivers/rollback.hpp"
#include "txn/drivers/root_match.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/drivers/stage_reuse.hpp"
#include "txn/drivers/stage_sweep.hpp"
#include "txn/fs/volume.hpp"
#include "txn/quiesce/retire.hpp"
#include "txn/registry/registry.hpp"
#include "txn/scm/scm.hpp"
#include "txn/verify/verify_started_service.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using journal::MarkKind;
using outcome::OutcomeKind;
using outcome::OutcomeReport;

namespace {

// How the last step that ran ended.
struct RunEnd {
    StepResult failure;
    ScanDisposition disposition = ScanDisposition::refuse;  // of a scan failure
    bool finalize_pending = false;
    // The stage is another run's: used already, or holding unfinished work.
    bool stage_not_ours = false;
};

class ApplyRun {
  public:
    ApplyRun(p::Os& os, TransactionContext& ctx) : os_(os), ctx_(ctx) {}

    // Every phase in order; each runs only when all before it succeeded.
    RunEnd run() {
        RunEnd end;
        end.failure = refuse_used_stage(os_, ctx_);
        end.stage_not_ours = end.failure.has_value();
        if (!end.failure) end.failure = sweep_sibling_stages(os_, ctx_);
        if (!end.failure) end.failure = snapshots();
        if (!end.failure) {
            if (auto scan = scan_and_plan(os_, ctx_, service_)) {
                end.disposition = scan->disposition;
                end.failure = plain_fault(Phase::plan, scan->reason);
                end.failure->rel = scan->rel;
            }
        }
        if (!end.failure) end.failure = fence_and_quiesce();
        if (!end.failure) end.failure = place_operations(os_, ctx_);
        if (!end.failure) end.failure = configure();
        if (!end.failure) end.failure = verify();
        if (!end.failure) end.failure = commit();
        if (!end.failure) end.finalize_pending = finalize_install(os_, ctx_);
        return end;
    }

  private:
    // The service and the recorded install location, both this root's.
    StepResult snapshots() {
        auto service = scm::scm_snapshot(os_);
        if (!service) return fault_of(service.error(), Phase::plan, FaultReason::scm_error);
        service_ = std::move(*service);
        auto location = registry::registry_read_install_location(os_);
        if (!location) return fault_of(location.error(), Phase::plan, FaultReason::registry_failed);
        if (!root_matches(ctx_.root, service_, *location))
            return plain_fault(Phase::plan, FaultReason::root_mismatch);
        return std::nullopt;
    }

    // The installed service is disabled ("fenced" on disk first) and stopped,
    // then nothing of the runtime may still run from the root.
    StepResult fence_and_quiesce() {
        if (service_.config) {
            if (auto disabled = scm::scm_disable(os_); !disabled)
                return fault_of(disabled.error(), Phase::fence, FaultReason::scm_error);
            if (auto marked = write_mark(os_, ctx_, MarkKind::fenced); !marked)
                return fault_of(marked.error(), Phase::fence, FaultReason::journal_write_failed);
            if (auto stopped = scm::scm_stop(os_, kServiceDeadline); !stopped)
                return fault_of(stopped.error(), Phase::quiesce, FaultReason::service_stop_timeout);
        }
        if (auto retired = quiesce::retire_runtime_processes(os_, ctx_.root); !retired) {
            const p::Error& e = retired.error();
            FaultReason reason =
                e.has_text(quiesce::kProcessUnderRoot)  ? FaultReason::process_under_root
                : e.has_text(quiesce::kEndpointPresent) ? FaultReason::endpoint_present
                                                        : FaultReason::core_retire_failed;
            return fault_of(e, Phase::quiesce, reason);
        }
        return std::nullopt;
    }

    // The placed runtime is on disk before the service is pointed at it: the
    // service's configuration outlives a power cut at once, and a restart
    // must not start it from a root whose placement is still half on disk.
    StepResult configure() {
        if (!p::is_valid_utf16(ctx_.root))
            return plain_fault(Phase::configure, FaultReason::unsafe_object);
        if (auto flushed = fs::flush_volume(os_, ctx_.root); !flushed)
            return fault_of(flushed.error(), Phase::configure, FaultReason::volume_flush_failed);
        if (auto applied = scm::scm_apply(os_, scm::desired_scm_config(ctx_.root)); !applied)
            return fault_of(applied.error(), Phase::configure, FaultReason::scm_error);
        if (auto marked = write_mark(os_, ctx_, MarkKind::configured); !marked)
            return fault_of(marked.error(), Phase::configure, FaultReason::journal_write_failed);
        return std::nullopt;
    }

    StepResult verify() {
        std::u16string image =
            p::join_path(p::join_path(ctx_.root, u"resources"), u"holvar-service.exe");
        v3::V3Status verified = verify::verify_started_service(os_, image);
        if (verified) return std::nullopt;
        Fault f = plain_fault(Phase::verify, FaultReason::verify_failed);
        f.win32 = verified.error().win32_code();
        return f;
    }

    // The new runtime is on disk for good before "committed" says so.
    StepResult commit() {
        if (auto flushed = fs::flush_volume(os_, ctx_.root); !flushed)
            return fault_of(flushed.error(), Phase::commit, FaultReason::volume_flush_failed);
        if (auto marked = write_mark(os_, ctx_, MarkKind::committed); !marked)
            return fault_of(marked.error(), Phase::commit, FaultReason::journal_write_failed);
        return std::nullopt;
    }

    p::Os& os_;
    TransactionContext& ctx_;
    scm::ScmSnapshot service_;
};

bool journal_has(const TransactionContext& ctx, std::initializer_list<MarkKind> kinds) {
    if (!ctx.journal) return false;
    for (MarkKind k : kinds)
        if (ctx.journal->has_mark(k)) return true;
    return false;
}

// Which outcome the run ends in, rolling back when the journal says a change
// may have been made and nothing was committed.
OutcomeReport decide_outcome(p::Os& os, TransactionContext& ctx, const RunEnd& end) {
    OutcomeReport report;
    report.command = outcome::Command::apply;
    report.txid = ctx.txid;
    if (!end.failure) {
        report.outcome =
            end.finalize_pending ? OutcomeKind::committed_finalize_pending : OutcomeKind::committed;
        if (end.finalize_pending) report.primary = ctx.deferred_finalize_fault;
    } else {
        report.primary = end.failure;
        const bool has_marks = ctx.journal && !ctx.journal->marks.empty();
        if (end.failure->reason == FaultReason::foreign_unfinished_journal) {
            report.outcome = OutcomeKind::recovery_pending;
        } else if (!has_marks) {
            report.outcome = end.disposition == ScanDisposition::restart_first
                                 ? OutcomeKind::reboot_required
                                 : OutcomeKind::refused;
        } else if (journal_has(ctx,
                               {MarkKind::committed, MarkKind::finalizing, MarkKind::finalized})) {
            report.outcome = OutcomeKind::committed_finalize_pending;
        } else if (StepResult failed = rollback(os, ctx)) {
            report.outcome = OutcomeKind::recovery_pending;
            report.recovery_error = std::move(failed);
        } else {
            report.outcome = OutcomeKind::rolled_back;
        }
    }
    report.holders = ctx.holders;
    return report;
}

}  // namespace

OutcomeReport apply(p::Os& os, const std::u16string& root, const std::u16string& stage_dir) {
    auto ctx = check_preconditions(os, root, stage_dir);
    if (!ctx) return precondition_report(outcome::Command::apply, ctx.error());

    RunEnd end = ApplyRun(os, *ctx).run();
    OutcomeReport report = decide_outcome(os, *ctx, end);
    // A stage that an earlier run used, and one beside another run's
    // unfinished work, is left exactly as it is.
    const bool cleanup =
        !end.stage_not_ours &&
        !(end.failure && end.failure->reason == FaultReason::foreign_unfinished_journal);
    finalize_stage(os, report, *ctx, ctx->diagnostics_dir, cleanup);
    return report;
}

}  // namespace holvar::txn::drivers
