// Opens and deletions that wait out a lock held by another process, within a
// shared budget: used where a tree is deleted and a virus scanner or an
// exiting process may still hold a file for a moment.
#pragma once

#include <algorithm>

#include <chrono>
#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/retry_budget.hpp"

namespace holvar::txn::fs {

// The longest single sleep between two attempts.
inline constexpr platform::Duration kRetrySleep = std::chrono::milliseconds(100);

// Whether a failure may go away by itself: access denied (5, also what a file
// pending deletion answers), sharing (32) and lock (33) violations, a mapped
// file (1224).
bool is_retryable(const platform::Error& error);

// CreateFileW(path, SYNCHRONIZE | DELETE | FILE_READ_ATTRIBUTES, share 7,
// OPEN_EXISTING, no-follow flags), retried on a retryable error.
platform::Result<platform::Handle> open_for_delete_retrying(platform::Os& os,
                                                            std::u16string_view path,
                                                            RetryBudget& budget);

// As above with FILE_LIST_DIRECTORY added and share read | write, so the
// directory cannot be moved or deleted by anyone else while it is emptied.
platform::Result<platform::Handle> open_directory_for_delete_retrying(platform::Os& os,
                                                                      std::u16string_view path,
                                                                      RetryBudget& budget);

// delete_by_handle, retried on a retryable error.
platform::Status delete_by_handle_retrying(platform::Os& os, const platform::Handle& handle,
                                           RetryBudget& budget);

// Runs `attempt` until it succeeds, fails for good (an error that is not
// retryable), or the budget is spent. Every moment between the first attempt
// and the return is charged, sleeps included; each sleep is the rest of the
// budget or kRetrySleep, whichever is shorter, on the OS clock.
template <class Attempt>
auto retry_within(platform::Os& os, RetryBudget& budget, Attempt attempt) -> decltype(attempt()) {
    platform::Instant mark = os.clock.now();
    auto charge = [&] {
        platform::Instant now = os.clock.now();
        budget.charge(now - mark);
        mark = now;
    };
    while (true) {
        auto result = attempt();
        charge();
        if (result || !is_retryable(result.error()) || budget.exhausted()) return result;
        os.clock.sleep_for(std::min(budget.remaining(), kRetrySleep));
    }
}

}  // namespace holvar::txn::fs
