// One allowance of time shared by a run of retried operations.
#pragma once

#include <chrono>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// The time left for retries. Each retried primitive charges what it spent
// (measured on the monotonic clock) to the budget it was handed, so calls made
// one after another draw on the same allowance. It never goes below zero.
class RetryBudget {
  public:
    RetryBudget() = default;
    explicit RetryBudget(platform::Duration remaining)
        : remaining_(remaining < platform::Duration::zero() ? platform::Duration::zero()
                                                            : remaining) {}
    static RetryBudget seconds(int64_t s) { return RetryBudget(std::chrono::seconds(s)); }

    platform::Duration remaining() const { return remaining_; }
    bool exhausted() const { return remaining_ <= platform::Duration::zero(); }
    void charge(platform::Duration spent) {
        if (spent <= platform::Duration::zero()) return;
        remaining_ = spent >= remaining_ ? platform::Duration::zero() : remaining_ - spent;
    }

  private:
    platform::Duration remaining_{0};
};

}  // namespace holvar::txn::fs
