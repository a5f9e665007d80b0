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
    // The payload the run installs (none: a removal or a repair), which a
    // retry stages again from a new stage.
    std::optional<PayloadSource> payload;
    // A power cut is followed by a restart: pending renames are applied and
    // the automatic services start before the setup program runs --recover.
    bool reboot_after_crash = true;
    // The stage's journal folder is one users may write: an honest engine
    // answers recovery_pending and touches nothing, for as long as it is.
    bool journal_users_may_write = false;
    // A user's program holds a file in the root for good: a run pending on
    // it ends at the next restart, after which --recover finishes it.
    bool held_until_restart = false;
};

inline const std::u16string kExploreRoot = u"C:\\Program Files\\Holvar";

// The built-in scenarios: fresh installs, upgrades (a running service, a
// failing verification, a held file, the service's own items full of its
// files, a service image or a journal folder users may change), removals
// (a held file, the client running, a folder the service shares with
// users), and a repair of a service an administrator disabled.
std::span<const std::string_view> builtin_scenario_names();
ToolResult<Scenario> builtin_scenario(std::string_view name);

// One of the demo's built-in payloads ("v1", "v2", "v2-broken"...).
PayloadSource demo(std::string_view name);

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
// An administrator sets the service's start type to disabled.
void disable_service(sim::Machine& machine);

// A program of an ordinary user that keeps root\\rel open, sharing reads,
// for good: a removal must leave the file for the next restart.
void hold_as_user(Scenario& scenario, const std::u16string& rel);

void hold_installed_file(Scenario& scenario, const std::u16string& rel,
                         std::optional<uint64_t> for_ms);

}  // namespace holvar::simtool
