#include "explain/explanation.hpp"
#include "platform/unicode.hpp"

namespace holvar::explain {

using txn::drivers::RecoveryDecision;
using txn::drivers::RootState;

JournalExplanation explain_journal(const txn::journal::Journal& journal, platform::Os* live) {
    JournalExplanation e;
    e.removal = journal.kind == txn::journal::JournalKind::remove;
    e.txid = journal.txid;
    e.root = platform::utf16_to_utf8_lossy(journal.root.path);
    e.operations = journal.ops.size();
    for (const auto& mark : journal.marks) e.marks.push_back(mark.kind);
    e.ended = journal.has_ended();

    if (live) {
        e.machine = ask_machine(*live, journal);
        if (e.machine->complete()) {
            e.decision = txn::drivers::decide_recovery(journal, e.machine->service_present(),
                                                       *e.machine->root);
            return e;
        }
    }
    // The usual case, and the states that would change its answer.
    const RootState assumed = recorded_root_id(journal) ? RootState::matches : RootState::empty;
    e.assumed_root = assumed;
    e.decision = txn::drivers::decide_recovery(journal, true, assumed);
    const DecisionVariant variants[] = {
        {"if the service is absent", txn::drivers::decide_recovery(journal, false, assumed)},
        {"if the root is absent", txn::drivers::decide_recovery(journal, true, RootState::absent)},
        {"if another object stands at the root",
         txn::drivers::decide_recovery(journal, true, RootState::foreign)},
    };
    for (const DecisionVariant& v : variants)
        if (v.decision != e.decision) e.variants.push_back(v);
    return e;
}

}  // namespace holvar::explain
