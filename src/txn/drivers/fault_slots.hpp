// The report's two fault slots: the first failure of a run decides the
// outcome (primary); a second one met while finishing or undoing the first
// is its recovery_error; any later one is dropped.
#pragma once

#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

inline void record_fault(outcome::OutcomeReport& report, outcome::Fault fault) {
    if (!report.primary) {
        report.primary = std::move(fault);
    } else if (!report.recovery_error) {
        report.recovery_error = std::move(fault);
    }
}

}  // namespace holvar::txn::drivers
