#include "txn/drivers/recover.hpp"

namespace holvar::txn::drivers {

using journal::MarkKind;

namespace {

bool records_root_identity(const journal::Journal& j) {
    return j.root.file_id.has_value() || j.has_mark(MarkKind::root_created);
}

RecoveryDecision decide_removal(const journal::Journal& j, bool service_present) {
    if (j.has_mark(MarkKind::finalized) || j.has_mark(MarkKind::aborted))
        return RecoveryDecision::ended;
    if (!service_present) return RecoveryDecision::resume_removal;
    if (j.has_mark(MarkKind::service_deleted) || j.has_mark(MarkKind::service_delete_pending))
        return RecoveryDecision::resume_removal;
    return RecoveryDecision::abort_removal;
}

}  // namespace

RecoveryDecision decide_recovery(const journal::Journal& j, bool service_present, RootState root) {
    if (j.kind == journal::JournalKind::remove) return decide_removal(j, service_present);
    if (j.has_mark(MarkKind::finalized) || j.has_mark(MarkKind::rolled_back))
        return RecoveryDecision::ended;
    // A rollback that began is finished, whatever came before it: a failed
    // confirmation of a committed install rolls back too.
    if (j.has_mark(MarkKind::rolling_back)) {
        // Its root deletion may already be done: a root this install made and
        // that is gone now is the rollback's own work, not a lost root.
        if (root == RootState::matches ||
            (root == RootState::absent && j.has_mark(MarkKind::root_created)))
            return RecoveryDecision::roll_back;
    }
    if (root == RootState::matches) {
        if (j.marks.empty()) return RecoveryDecision::roll_back;
        if (j.has_mark(MarkKind::finalizing)) return RecoveryDecision::resume_finalize;
        if (j.has_mark(MarkKind::committed)) return RecoveryDecision::confirm_and_finalize;
        return RecoveryDecision::roll_back;
    }
    if (root == RootState::empty && !records_root_identity(j))
        return RecoveryDecision::remove_empty_root;
    return RecoveryDecision::root_lost;
}

}  // namespace holvar::txn::drivers
