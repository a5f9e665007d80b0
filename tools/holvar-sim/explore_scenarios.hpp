// The transactions the explorer walks: a machine made ready for one run of
// the engine (the old installation in place, the new payload staged, perhaps
// a program holding a file), and that run's command line.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "explore_engine.hpp"
#include "platform/sim/machine.hpp"
#include "staging.hpp"
#include "tool_error.hpp"

namespace holvar::simtool {

struct Scenario {
    std::string name;
    std::unique_ptr<sim::Machine> base;  // the machine just before the run
    Transaction txn;
    // A power cut is followed by a restart: pending renames are applied and
    // the automatic services start before the setup program runs --recover.
    bool reboot_after_crash = true;
};

inline const std::u16string kExploreRoot = u"C:\\Program Files\\Holvar";

// fresh_install, fresh_install_failing_verification,
// upgrade_over_running_service, upgrade_failing_verification,
// upgrade_with_held_file, removal, removal_with_held_file.
std::span<const std::string_view> builtin_scenario_names();
ToolResult<Scenario> builtin_scenario(std::string_view name);

// On a copy of `machine`: `from` installed (none: nothing installed) and
// `to` staged, the upgrade's run.
ToolResult<Scenario> upgrade_scenario(std::string name, const sim::Machine& machine,
                                      const std::u16string& root,
                                      const std::optional<PayloadSource>& from,
                                      const PayloadSource& to);
// On a copy of `machine`: each of `installed` installed in turn (an upgrade
// that does not commit is left rolled back) and a stage with the engine
// alone, the removal's run.
ToolResult<Scenario> removal_scenario(std::string name, const sim::Machine& machine,
                                      const std::u16string& root,
                                      const std::vector<PayloadSource>& installed);

// A program that keeps root\rel open, sharing nothing, for `for_ms` of
// virtual time (none: until the machine stops).
void hold_installed_file(Scenario& scenario, const std::u16string& rel,
                         std::optional<uint64_t> for_ms);

}  // namespace holvar::simtool
