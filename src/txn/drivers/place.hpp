// Placement: the journal's operations made true on disk, in journal order,
// under one retry budget for files that another process holds for a moment.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/run_support.hpp"

namespace holvar::txn::drivers {

inline constexpr auto kPlacementBudget = std::chrono::seconds(30);

// "placing" reaches disk before the first operation runs. A file still locked
// when the budget is spent: place / "sharing_violation" with its path and the
// error, and the processes holding it recorded in the context; any other
// failure: place / "foreign_identity" with the operation's path.
StepResult place_operations(platform::Os& os, TransactionContext& ctx);

}  // namespace holvar::txn::drivers
