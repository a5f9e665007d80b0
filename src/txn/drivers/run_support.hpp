// What every driver step shares: turning an error into the report's fault,
// writing a mark of the run's journal, and recording a holder query.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/error.hpp"
#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/journal/journal.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

using outcome::Fault;
using outcome::FaultReason;
using outcome::Phase;

// How long a service may take to stop, or to leave a start or stop pending.
inline constexpr auto kServiceDeadline = std::chrono::seconds(30);

// A step either succeeds or ends the phase with the fault that decides the outcome.
using StepResult = std::optional<Fault>;

// The fault of a failed call: its Win32 code when the OS gave one, no path.
inline Fault fault_of(const platform::Error& error, Phase phase, FaultReason reason) {
    return outcome::fault_from_error(error, phase, reason);
}

// A fault with no Win32 code and no path.
inline Fault plain_fault(Phase phase, FaultReason reason) {
    return Fault{phase, reason, std::nullopt, std::nullopt};
}

// The fault of a failed call about the object at `rel`.
inline Fault fault_at(const platform::Error& error, Phase phase, FaultReason reason,
                      std::u16string rel) {
    Fault f = outcome::fault_from_error(error, phase, reason);
    f.rel = std::move(rel);
    return f;
}

// Appends `mark` to the context's journal and persists the whole journal;
// memory and disk keep agreeing when it fails ("missing journal" without one).
platform::Status write_mark(platform::Os& os, TransactionContext& ctx, const journal::Mark& mark);

// Runs the Restart Manager query for `path` and keeps its answer as the
// report's holders section.
void record_holders(platform::Os& os, TransactionContext& ctx, std::u16string_view path);

}  // namespace holvar::txn::drivers
