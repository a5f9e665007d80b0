// `--recover`: an interrupted transaction brought to a defined end from its
// journal: what was committed is finished, what was not is undone, a removal
// is finished or abandoned, and a journal that has ended says so.
#pragma once

#include <string>

#include "platform/os.hpp"
#include "txn/journal/journal.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

// What the journal, the service and the root say is to be done.
enum class RecoveryDecision : uint8_t {
    ended,
    root_lost,
    remove_empty_root,
    resume_finalize,
    confirm_and_finalize,
    roll_back,
    abort_removal,
    resume_removal,
};

// The state of the root as recovery finds it.
enum class RootState : uint8_t { matches, foreign, empty, not_empty, absent };

// The decision table: the first row that fits.
RecoveryDecision decide_recovery(const journal::Journal& journal, bool service_present,
                                 RootState root);

outcome::OutcomeReport recover(platform::Os& os, const std::u16string& root,
                               const std::u16string& stage_dir);

}  // namespace holvar::txn::drivers
