// The actions of a recovery, each bringing the interrupted transaction of
// the context's journal to an end (or leaving it for a later recovery), and
// the report's fault slots they fill.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/run_support.hpp"

namespace holvar::txn::drivers {

struct RecoverySteps {
    platform::Os& os;
    TransactionContext& ctx;
    outcome::OutcomeReport& report;

    // The first fault is the primary, the second the recovery error; later
    // ones are dropped.
    void record(const Fault& fault);

    // The journal gets its ending mark unless it has one: nothing_to_recover.
    void close_ended_journal();
    // The root left empty by an install that recorded no identity for it goes.
    bool remove_empty_root();
    // An install that reached "finalizing": the service running, the finalize step.
    void resume_finalize();
    // An install that committed: every operation confirmed in place and the
    // service verified, then finalized; otherwise rolled back.
    void confirm_and_finalize();
    void roll_back();
    // A removal that had not deleted the service: the service as it was, "aborted".
    void abort_removal();
    // A removal that had: its remaining steps.
    void resume_removal(bool service_marked_for_delete);

  private:
    void finalize();
};

}  // namespace holvar::txn::drivers
