#include "txn/drivers/rollback.hpp"

#include <algorithm>

#include "platform/win_path.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/retrying.hpp"
#include "txn/fs/volume.hpp"
#include "txn/quiesce/retire.hpp"
#include "txn/scm/scm.hpp"
#include "txn/test_seam.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/op_state.hpp"
#include "txn/tree/retired_index.hpp"
#include "txn/tree/trash.hpp"
#include "txn/tree/tree_layout.hpp"
#include "txn/tree/undo_op.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using journal::Op;

namespace {

Fault rollback_fault(const p::Error& error, FaultReason reason) {
    return fault_of(error, Phase::rollback, reason);
}

Fault rollback_fault(FaultReason reason) {
    return plain_fault(Phase::rollback, reason);
}

bool is_uninstaller(const Op& op) {
    return p::ascii_iequal(op.rel, tree::kUninstaller);
}

struct Undo {
    p::Os& os;
    TransactionContext& ctx;
    tree::TreeLayout layout;
    tree::RetiredIndex retires;
    fs::RetryBudget budget{kRollbackBudget};
    std::vector<uint32_t> held_links;  // seqs of replaces whose extra name stays
    // The folders the operations pass, read once for both passes and held
    // until the operations are undone.
    fs::PinnedFolders pins;

    Undo(p::Os& o, TransactionContext& c)
        : os(o),
          ctx(c),
          layout(tree::TreeLayout::of(c.root, c.stage_dir)),
          retires(c.journal->ops) {}

    // A replace whose undo was cut short between keeping the new file in the
    // trash and renaming the old one back: the new file is at its place with
    // a second name in trash\op-<seq>. Left so, its two names would make every
    // later identity check of that image refuse it.
    bool half_undone(const Op& op) {
        if (op.type != journal::OpType::replace) return false;
        auto kept = fs::probe_path(os, p::join_path(layout.trash, tree::trash_op_name(op.seq)));
        return kept && kept->is(fs::ObjectKind::file, op.new_id);
    }

    // Classification pass, in journal order, before the service is touched:
    // a replace caught between its two steps (or its undo caught between its
    // two steps) is brought back to the old file at once. Says whether any
    // operation has left a trace at all.
    //
    // A replace that stopped after its link because another process holds
    // the file has the old file at its place already; its second name in the
    // rollback folder cannot go while the file is held (deleting a name opens
    // the file for deletion). It is left to the stage's cleaning, which
    // deletes it or schedules it for the next restart, and the rollback goes
    // on: the file under the root is the old one either way.
    std::expected<bool, Fault> settle_half_done() {
        bool touched = false;
        for (const Op& op : ctx.journal->ops) {
            auto state = tree::read_op_state(os, layout, op, retires, &pins);
            if (!state)
                return std::unexpected(fault_at(state.error(), Phase::rollback,
                                                FaultReason::foreign_identity, op.rel));
            // Something no step of the operation leaves (someone else's file
            // at its place): nothing is undone around it, and the service is
            // not stopped for a rollback that cannot end.
            if (*state == tree::OpState::foreign) {
                Fault f = rollback_fault(FaultReason::foreign_identity);
                f.rel = op.rel;
                return std::unexpected(std::move(f));
            }
            if (*state != tree::OpState::untouched) touched = true;
            bool finish_now = *state == tree::OpState::linked ||
                              (*state == tree::OpState::replaced && half_undone(op));
            if (!finish_now) continue;
            p::Status undone = tree::undo_op(os, layout, op, retires, &pins);
            if (undone) continue;
            if (*state == tree::OpState::linked && fs::is_retryable(undone.error())) {
                held_links.push_back(op.seq);
                continue;
            }
            return std::unexpected(
                fault_at(undone.error(), Phase::rollback, FaultReason::foreign_identity, op.rel));
        }
        return touched;
    }

    bool is_held_link(const Op& op) const {
        return std::find(held_links.begin(), held_links.end(), op.seq) != held_links.end();
    }

    StepResult undo(const Op& op) {
        p::Status undone = fs::retry_within(
            os, budget, [&] { return tree::undo_op(os, layout, op, retires, &pins); });
        if (undone) return std::nullopt;
        FaultReason reason = fs::is_retryable(undone.error()) ? FaultReason::sharing_violation
                                                              : FaultReason::foreign_identity;
        return fault_at(undone.error(), Phase::rollback, reason, op.rel);
    }

    // Last operation first; the uninstaller either skipped or alone.
    StepResult undo_in_reverse(bool uninstaller) {
        const std::vector<Op>& ops = ctx.journal->ops;
        for (auto it = ops.rbegin(); it != ops.rend(); ++it) {
            if (is_uninstaller(*it) != uninstaller || is_held_link(*it)) continue;
            if (StepResult failed = undo(*it)) return failed;
        }
        return std::nullopt;
    }
};

// The service of the failed install is stopped before its files go back.
// Right after a verification failure it may still be starting: wait for it to
// settle rather than fail on a state that is about to change.
StepResult stop_service(p::Os& os) {
    auto service = scm::scm_snapshot_settled(os, kServiceDeadline);
    if (!service) return rollback_fault(service.error(), FaultReason::scm_error);
    if (!service->config) return std::nullopt;
    if (auto disabled = scm::scm_disable(os); !disabled)
        return rollback_fault(disabled.error(), FaultReason::scm_error);
    if (auto stopped = scm::scm_stop(os, kServiceDeadline); !stopped)
        return rollback_fault(stopped.error(), FaultReason::service_stop_timeout);
    return std::nullopt;
}

StepResult retire_processes(p::Os& os, const TransactionContext& ctx) {
    if (auto retired = quiesce::retire_runtime_processes(os, ctx.root); !retired)
        return rollback_fault(retired.error(), FaultReason::core_retire_failed);
    return std::nullopt;
}

StepResult restore_service(p::Os& os, const TransactionContext& ctx) {
    if (auto restored =
            scm::scm_restore(os, ctx.journal->scm_before, ctx.journal->service_running_before);
        !restored)
        return rollback_fault(restored.error(), FaultReason::scm_error);
    return std::nullopt;
}

// A root this install created goes again, but only while it is still that
// directory. One already gone counts as deleted (a crash may have come between
// its deletion and the last mark). One that holds entries no operation of the
// journal accounts for belongs in part to someone else: it stays, with them.
//
// A root that did not exist when the run began and that no "root_created"
// mark names is the one this run made and could not record (its identity
// could not be read): it goes too while it is an empty folder, as --recover
// would delete it.
StepResult delete_created_root(p::Os& os, const TransactionContext& ctx) {
    const journal::Mark* created = nullptr;
    for (const journal::Mark& mark : ctx.journal->marks)
        if (mark.kind == journal::MarkKind::root_created) created = &mark;
    if (!created && ctx.journal->root.file_id) return std::nullopt;
    auto handle = fs::open_object(os, ctx.root, fs::kRenameDeleteAccess);
    if (!handle) {
        if (handle.error().is_win32(p::win32::file_not_found) ||
            handle.error().is_win32(p::win32::path_not_found))
            return std::nullopt;
        return rollback_fault(handle.error(), FaultReason::foreign_identity);
    }
    auto identity = fs::read_identity(os, *handle);
    if (!identity) return rollback_fault(identity.error(), FaultReason::foreign_identity);
    if (!created) {
        if (identity->kind != fs::ObjectKind::directory) return std::nullopt;
    } else if (!identity->probe().is(fs::ObjectKind::directory, created->root_id)) {
        return rollback_fault(FaultReason::foreign_identity);
    }
    auto entries = tree::list_directory(os, ctx.root);
    if (!entries) return rollback_fault(entries.error(), FaultReason::unsafe_object);
    if (!entries->empty()) return std::nullopt;
    if (auto deleted = fs::delete_by_handle(os, *handle); !deleted)
        return rollback_fault(deleted.error(), FaultReason::unsafe_object);
    return std::nullopt;
}

}  // namespace

StepResult rollback(p::Os& os, TransactionContext& ctx) {
    if (!ctx.journal) return rollback_fault(FaultReason::journal_corrupt);
    if (auto marked = write_mark(os, ctx, journal::MarkKind::rolling_back); !marked)
        return rollback_fault(marked.error(), FaultReason::journal_write_failed);

    Undo undo(os, ctx);
    auto touched = seam::broken(seam::Breakage::rollback_without_classification)
                       ? std::expected<bool, Fault>(true)
                       : undo.settle_half_done();
    if (!touched) return touched.error();
    // Whether the new runtime may have been placed, and the service pointed
    // at it and started, is the journal's to say: a rollback run again after
    // it was cut short finds every operation already undone on disk, while
    // what the new service made is still under the root. Before placement
    // nothing of the new runtime can be running, and whatever runs from the
    // root (the client that made the quiesce fail) must not keep the old
    // service from coming back.
    const bool placement_began = *touched || (!seam::broken(seam::Breakage::placement_from_disk) &&
                                              ctx.journal->has_mark(journal::MarkKind::placing));
    if (placement_began) {
        if (StepResult failed = stop_service(os)) return failed;
        if (StepResult failed = retire_processes(os, ctx)) return failed;
    }
    if (StepResult failed = undo.undo_in_reverse(false)) return failed;
    if (placement_began) {
        if (StepResult failed = remove_generated_items(os, ctx)) return failed;
    }
    // The old runtime is back on disk before the service is pointed at it
    // again: the service's configuration outlives a power cut at once, and a
    // restart must not start it from a root that is still half undone.
    if (auto flushed = fs::flush_volume(os, ctx.root); !flushed)
        return rollback_fault(flushed.error(), FaultReason::volume_flush_failed);
    if (StepResult failed = restore_service(os, ctx)) return failed;
    // The uninstaller goes back last, once the service is as it was.
    if (StepResult failed = undo.undo_in_reverse(true)) return failed;
    undo.pins = fs::PinnedFolders{};  // the root this run made may go now
    if (StepResult failed = delete_created_root(os, ctx)) return failed;
    if (auto marked = write_mark(os, ctx, journal::MarkKind::rolled_back); !marked)
        return rollback_fault(marked.error(), FaultReason::journal_write_failed);
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
