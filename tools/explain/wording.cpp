#include "explain/wording.hpp"

#include <array>

namespace holvar::explain {

using txn::drivers::RecoveryDecision;
using txn::drivers::RootState;

std::string_view mark_story(txn::journal::MarkKind kind) {
    using M = txn::journal::MarkKind;
    switch (kind) {
        case M::planned:
            return "planned every file operation";
        case M::root_created:
            return "created the install root";
        case M::fenced:
            return "fenced the old service (stopped it and took its files out of use)";
        case M::placing:
            return "began moving files into place by handle";
        case M::configured:
            return "configured the service";
        case M::committed:
            return "committed the new installation";
        case M::finalizing:
            return "began finalizing (cleaning up what the commit left behind)";
        case M::finalized:
            return "finished";
        case M::rolling_back:
            return "began rolling back";
        case M::rolled_back:
            return "rolled everything back to the old installation";
        case M::service_deleted:
            return "deleted the service";
        case M::service_delete_pending:
            return "asked for the service's deletion, which waits for it to close";
        case M::runtime_retired:
            return "retired the runtime's files";
        case M::maintenance_done:
            return "ran the maintenance commands";
        case M::tree_done:
            return "removed the installed tree";
        case M::registry_done:
            return "removed the registry entries";
        case M::uninstall_key_deleted:
            return "deleted the uninstall key";
        case M::root_done:
            return "removed the install root";
        case M::aborted:
            return "abandoned the removal, leaving the installation in place";
    }
    return "reached an unknown mark";
}

namespace {

struct DecisionText {
    std::string_view name;
    std::string_view story;
};
// In the order of the enumeration.
constexpr std::array<DecisionText, 8> kDecisionTexts{{
    {"ended", "the transaction has already ended: nothing is changed, the journal is closed"},
    {"root_lost",
     "the root is not the folder this transaction recorded (gone or replaced): nothing under it "
     "is touched, the report names root_mismatch"},
    {"remove_empty_root",
     "the install never recorded a root and the root is an empty folder: the folder is removed"},
    {"resume_finalize", "the commit was made and finalizing had begun: finalizing is finished"},
    {"confirm_and_finalize",
     "the commit was made: the new service is verified again and the install finalized; a "
     "failed verification rolls back"},
    {"roll_back",
     "the commit was not reached, or a rollback had begun: every moved object goes back and the "
     "old service is restored"},
    {"abort_removal",
     "the service is still installed and its deletion never began: the removal is abandoned and "
     "the installation stays"},
    {"resume_removal", "the service is gone or its deletion was recorded: the removal is finished"},
}};
static_assert(static_cast<size_t>(RecoveryDecision::resume_removal) + 1 == kDecisionTexts.size());

}  // namespace

std::string_view decision_name(RecoveryDecision decision) {
    return kDecisionTexts[static_cast<size_t>(decision)].name;
}

std::string_view decision_story(RecoveryDecision decision) {
    return kDecisionTexts[static_cast<size_t>(decision)].story;
}

std::string_view root_state_name(RootState root) {
    switch (root) {
        case RootState::matches:
            return "matches";
        case RootState::foreign:
            return "foreign";
        case RootState::empty:
            return "empty";
        case RootState::not_empty:
            return "not_empty";
        case RootState::absent:
            return "absent";
    }
    return "unknown";
}

std::string_view root_state_words(RootState root) {
    switch (root) {
        case RootState::matches:
            return "the folder this transaction recorded";
        case RootState::foreign:
            return "another object than the one recorded";
        case RootState::empty:
            return "an empty folder";
        case RootState::not_empty:
            return "a folder with entries";
        case RootState::absent:
            return "absent";
    }
    return "unknown";
}

std::string_view next_step(txn::outcome::OutcomeKind kind) {
    using K = txn::outcome::OutcomeKind;
    switch (kind) {
        case K::committed:
        case K::repaired:
        case K::removed:
        case K::nothing_to_recover:
            return "nothing: the machine is in a defined state";
        case K::committed_finalize_pending:
            return "the new installation runs; run --recover to finish its clean-up";
        case K::rolled_back:
            return "the old installation is back; show the report, retry later";
        case K::refused:
            return "nothing was changed; the primary fault says what was wrong";
        case K::busy:
            return "another engine runs; wait for it, then retry";
        case K::reboot_required:
        case K::removed_reboot_pending:
            return "restart the machine";
        case K::recovery_required:
        case K::recovery_pending:
            return "run --recover";
        case K::recovery_unsupported:
        case K::remove_incomplete:
            return "give up and show the report to support";
    }
    return "";
}

}  // namespace holvar::explain
