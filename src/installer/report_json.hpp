// The outcome report's exact bytes: one compact JSON object, keys in the
// order of the report's fields.
#pragma once

#include <string>

#include "installer/outcome.hpp"

namespace holvar::installer {

std::string serialize_report(const OutcomeReport& report);

}  // namespace holvar::installer
