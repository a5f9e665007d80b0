// The desktop client's maintenance commands, run as a child process in a job
// that kills everything it started when the engine lets go of it, with only
// "SystemRoot" in its environment and a time limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::children {

struct ChildOutcome {
    enum class Kind : uint8_t { exited, timed_out, failed } kind = Kind::failed;
    uint32_t code = 0;  // exited: the exit code; failed: the Win32 error
    friend bool operator==(const ChildOutcome&, const ChildOutcome&) = default;
};

inline constexpr platform::Duration kMaintenanceLimit = std::chrono::seconds(60);
inline constexpr char16_t kClientImage[] = u"holvar-client.exe";

// One element of a command line as the C runtime parses it back: as is when
// it is non-empty and holds no space, tab or double quote; otherwise quoted,
// with an embedded quote escaped and the backslashes before it, or before the
// closing quote, doubled.
std::u16string quote_command_line_element(std::u16string_view element);
std::u16string build_command_line(std::u16string_view exe, const std::vector<std::u16string>& args);

ChildOutcome run_maintenance_child(platform::Os& os, std::u16string_view exe,
                                   const std::vector<std::u16string>& args,
                                   std::u16string_view workdir, platform::Duration limit);

// The report's record of one run: exited gives `exit`, timed out "timeout",
// failed "spawn_failed:<code>".
outcome::MaintenanceEntry maintenance_entry(std::string_view command, const ChildOutcome& outcome);

}  // namespace holvar::txn::children
