// The outcome report's exact bytes: one compact JSON object, keys in the
// order of the report's fields.
#pragma once

#include <string>

#include "txn/outcome/outcome.hpp"

namespace holvar::txn::outcome {

std::string serialize_report(const OutcomeReport& report);

}  // namespace holvar::txn::outcome
