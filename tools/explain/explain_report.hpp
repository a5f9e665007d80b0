// The report half of an explanation.
#pragma once

#include "explain/explanation.hpp"

namespace holvar::explain {

std::expected<ReportExplanation, Unexplained> explain_report(const nlohmann::json& report,
                                                             const std::string& name);

}  // namespace holvar::explain
