#include "txn/drivers/recovery_steps.hpp"

#include "platform/win_path.hpp"
#include "txn/drivers/abandon_removal.hpp"
#include "txn/drivers/fault_slots.hpp"
#include "txn/drivers/finalize.hpp"
#include "txn/drivers/remove_after_service.hpp"
#include "txn/drivers/rollback.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/scm/scm.hpp"
#include "txn/tree/op_slots.hpp"
#include "txn/tree/op_state.hpp"
#include "txn/tree/tree_layout.hpp"
#include "txn/verify/verify_started_service.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using journal::MarkKind;
using journal::OpType;
using outcome::OutcomeKind;

namespace {

std::u16string service_image(const std::u16string& root) {
    return p::join_path(p::join_path(root, u"resources"), u"holvar-service.exe");
}

bool is_gone(const p::Error& error) {
    return error.is_win32(p::win32::file_not_found) || error.is_win32(p::win32::path_not_found);
}

// The bytes of what the operations placed: the report of the product's size
// in the registry counts the payload, and recovery has no payload scan. A
// placed file that is gone since (an administrator cleaning up) counts
// nothing: the commit stands, and the finalize must not wait for a file
// nobody will bring back. One that cannot be read is named in the fault.
std::expected<uint64_t, Fault> placed_payload_bytes(p::Os& os, const TransactionContext& ctx) {
    uint64_t total = 0;
    for (const journal::Op& op : ctx.journal->ops) {
        if (op.type != OpType::replace && op.type != OpType::add) continue;
        auto handle = fs::open_object(os, p::join_path(ctx.root, op.rel), fs::kProbeAccess);
        if (!handle && is_gone(handle.error())) continue;
        p::Result<p::ByHandleFileInformation> info =
            handle ? os.files.get_file_information_by_handle(*handle)
                   : p::Result<p::ByHandleFileInformation>(std::unexpected(handle.error()));
        if (!info)
            return std::unexpected(
                fault_at(info.error(), Phase::finalize, FaultReason::unsafe_object, op.rel));
        total += info->file_size();
    }
    return total;
}

}  // namespace

void RecoverySteps::record(const Fault& fault) {
    record_fault(report, fault);
}

void RecoverySteps::close_ended_journal() {
    const journal::Journal& j = *ctx.journal;
    if (!j.has_ended()) {
        journal::Mark ending =
            j.kind == journal::JournalKind::remove ? MarkKind::finalized : MarkKind::rolled_back;
        if (auto marked = write_mark(os, ctx, ending); !marked) {
            record(fault_of(marked.error(), Phase::scan, FaultReason::journal_write_failed));
            return;
        }
    }
    report.outcome = OutcomeKind::nothing_to_recover;
}

bool RecoverySteps::remove_empty_root() {
    auto handle = fs::open_object(os, ctx.root, fs::kRenameDeleteAccess);
    p::Status deleted = handle ? p::Status{} : p::Status(std::unexpected(handle.error()));
    if (deleted) {
        auto identity = fs::read_identity(os, *handle);
        if (!identity) {
            deleted = std::unexpected(identity.error());
        } else if (identity->kind != fs::ObjectKind::directory) {
            deleted = p::foreign_identity();
        } else {
            deleted = fs::delete_by_handle(os, *handle);
        }
    }
    if (deleted) return true;
    record(fault_of(deleted.error(), Phase::scan, FaultReason::unsafe_object));
    return false;
}

void RecoverySteps::resume_finalize() {
    report.outcome = OutcomeKind::committed_finalize_pending;
    auto service = scm::scm_snapshot(os);
    if (!service) {
        record(fault_of(service.error(), Phase::finalize, FaultReason::scm_error));
    } else if (!service->config || !service->running) {
        if (auto started = scm::scm_start(os); !started)
            record(fault_of(started.error(), Phase::finalize, FaultReason::scm_error));
    }
    finalize();
}

void RecoverySteps::confirm_and_finalize() {
    if (!ctx.journal) return record(plain_fault(Phase::scan, FaultReason::journal_corrupt));
    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    std::optional<Fault> unconfirmed;
    bool placed = true;
    std::u16string not_placed;
    for (const journal::Op& op : ctx.journal->ops) {
        auto slots = tree::read_op_slots(os, layout, op);
        if (!slots) {
            unconfirmed =
                fault_at(slots.error(), Phase::verify, FaultReason::unsafe_object, op.rel);
            break;
        }
        if (placed && !tree::op_is_placed(op, slots->target, slots->slot)) {
            placed = false;
            not_placed = op.rel;
        }
    }
    // The report names the first operation found out of place.
    if (!unconfirmed && !placed) {
        unconfirmed = plain_fault(Phase::verify, FaultReason::foreign_identity);
        unconfirmed->rel = std::move(not_placed);
    }
    if (!unconfirmed) {
        v3::V3Status verified = verify::verify_started_service(os, service_image(ctx.root));
        if (!verified) {
            unconfirmed = plain_fault(Phase::verify, FaultReason::verify_failed);
            unconfirmed->win32 = verified.error().win32_code();
        }
    }
    if (unconfirmed) {
        record(*unconfirmed);
        return roll_back();
    }
    report.outcome = OutcomeKind::committed_finalize_pending;
    if (auto marked = write_mark(os, ctx, MarkKind::finalizing); !marked)
        return record(fault_of(marked.error(), Phase::finalize, FaultReason::journal_write_failed));
    finalize();
}

// The finalize step of a recovery. Any fault recorded before it (a service
// that would not start) keeps the outcome pending: never a success over it.
void RecoverySteps::finalize() {
    auto bytes = placed_payload_bytes(os, ctx);
    if (!bytes) {
        record(bytes.error());
        report.outcome = OutcomeKind::committed_finalize_pending;
        return;
    }
    ctx.payload_bytes = *bytes;
    ctx.stale_directories.reset();
    const bool recorded_before = report.primary.has_value();
    if (finalize_install(os, ctx)) {
        record(*ctx.deferred_finalize_fault);
        report.outcome = OutcomeKind::committed_finalize_pending;
        return;
    }
    report.outcome =
        recorded_before ? OutcomeKind::committed_finalize_pending : OutcomeKind::committed;
}

void RecoverySteps::roll_back() {
    if (StepResult failed = rollback(os, ctx)) {
        record(*failed);
        report.outcome = OutcomeKind::recovery_pending;
        return;
    }
    report.outcome = OutcomeKind::rolled_back;
}

void RecoverySteps::abort_removal() {
    if (!ctx.journal)
        return record(plain_fault(Phase::remove_service, FaultReason::journal_corrupt));
    if (auto restored =
            scm::scm_restore(os, ctx.journal->scm_before, ctx.journal->service_running_before);
        !restored)
        return record(fault_of(restored.error(), Phase::remove_service, FaultReason::scm_error));
    if (auto marked = write_mark(os, ctx, MarkKind::aborted); !marked)
        return record(
            fault_of(marked.error(), Phase::remove_service, FaultReason::journal_write_failed));
    report.outcome = OutcomeKind::refused;
}

void RecoverySteps::resume_removal(bool service_marked_for_delete) {
    report.outcome = OutcomeKind::remove_incomplete;
    if (service_marked_for_delete && !ctx.journal->has_mark(MarkKind::service_delete_pending)) {
        if (auto marked = write_mark(os, ctx, MarkKind::service_delete_pending); !marked)
            return record(
                fault_of(marked.error(), Phase::remove_service, FaultReason::journal_write_failed));
    }
    report.outcome = remove_after_service(os, ctx, report);
}

}  // namespace holvar::txn::drivers
