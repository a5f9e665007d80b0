// Where and how the outcome report reaches disk: "engine-<txid>-<command>.json"
// in the trusted diagnostics directory, written atomically, and the pointer
// file "diag.txt" in the stage directory. Failures to write never change the
// outcome or the exit code.
#pragma once

#include <optional>
#include <string>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::outcome {

inline constexpr std::u16string_view diag_pointer_name = u"diag.txt";

// "engine-" + txid + "-" + command name + ".json".
std::u16string report_file_name(const OutcomeReport& report);

// Writes the report file and, when a stage directory is given, "diag.txt".
// Returns whether the report file was written.
bool write_outcome_report(platform::Os& os, const std::optional<std::u16string>& stage_dir,
                          const std::u16string& diagnostics_dir, const OutcomeReport& report);

}  // namespace holvar::txn::outcome
