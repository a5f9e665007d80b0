// A blocking step (the identity checks of the pipe's server) that a request
// must be able to outrun: it is given 5 seconds, or less when the overall
// deadline comes sooner. An abandoned step runs on to its end by itself; its
// result lives in a shared slot and is released with the slot, so whatever it
// opened closes once it is done, whoever is left holding the slot.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include "platform/os.hpp"

namespace holvar::v3 {

inline constexpr platform::Duration kBlockingStepBound = std::chrono::seconds(5);

enum class BlockingEnd : uint8_t {
    finished,  // the value is there
    bound,     // the step outlived its 5 seconds
    deadline,  // the overall deadline came first
};

template <class T>
struct BlockingOutcome {
    BlockingEnd end = BlockingEnd::finished;
    std::optional<T> value;
};

inline bool deadline_passed(platform::Os& os, std::optional<platform::Instant> deadline) {
    return deadline && os.clock.now() >= *deadline;
}

// `step` is a callable returning T; it is copied into the task, so it must
// own what it uses (the Os outlives every step).
template <class T, class Step>
BlockingOutcome<T> run_blocking_step(platform::Os& os, Step step,
                                     std::optional<platform::Instant> deadline) {
    platform::Duration limit = kBlockingStepBound;
    bool deadline_first = false;
    if (deadline) {
        const platform::Duration left = std::max(*deadline - os.clock.now(), platform::Duration{});
        if (left <= limit) {
            limit = left;
            deadline_first = true;
        }
    }
    auto slot = std::make_shared<std::optional<T>>();
    const bool finished = os.clock.run_bounded([slot, step]() { slot->emplace(step()); }, limit);
    BlockingOutcome<T> outcome;
    if (finished && slot->has_value()) {
        outcome.value = std::move(*slot);
        return outcome;
    }
    outcome.end = deadline_first ? BlockingEnd::deadline : BlockingEnd::bound;
    return outcome;
}

}  // namespace holvar::v3
