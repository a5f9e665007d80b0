// The undo of an install that never committed, from its journal alone, so it
// gives the same result in the run that failed and in a later recovery: every
// displaced object back at its place, what the new service made taken away,
// the service as it was, and a root this install created deleted again.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/run_support.hpp"

namespace holvar::txn::drivers {

inline constexpr auto kRollbackBudget = std::chrono::seconds(30);

// Nothing, or the fault (phase "rollback") that ended it. "rolling_back"
// reaches disk first and "rolled_back" last; a rollback that fails leaves
// "rolling_back" last, and running it again finishes it.
StepResult rollback(platform::Os& os, TransactionContext& ctx);

// The two items the running service makes under the root: a displaced one is
// moved to the stage's trash unless the journal says it was there before.
StepResult remove_generated_items(platform::Os& os, const TransactionContext& ctx);

}  // namespace holvar::txn::drivers
