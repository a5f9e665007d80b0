// The end of an explored run, held to the engine's promise: the report is
// sound and says what the machine is; a pending outcome is brought to an end
// by the setup program's --recover; the machine is exactly the old
// installation or exactly the new one, as the outcome says; the journal ends;
// a second --recover changes nothing. Every walk of the explorer ends its
// states here.
#pragma once

#include <string>

#include "explore_scenarios.hpp"
#include "explore_view.hpp"
#include "explorer.hpp"

namespace holvar::simtool {

enum class Expect { old_state, new_state, either, pending };

// What the machine must be once a run ended with `outcome`.
Expect expectation(const std::string& outcome);

// The outcome an exit code stands for, when no report could be read.
std::string outcome_of_code(int code);

// recovery_pending, committed_finalize_pending, remove_incomplete: the setup
// program runs --recover next.
bool pending(int code);

class EndChecks {
  protected:
    EndChecks(const Scenario& s, const ExploreOptions& o) : s_(s), o_(o) {}

    // `report_required`: a run whose calls were failed may have been unable
    // to write its report; its exit code then stands for the outcome.
    void check_end(sim::Machine& m, int code, const std::string& command, const std::string& where,
                   const std::string& call, bool report_required);

    std::string outcome_of(const sim::Machine& m, int code, const std::string& command,
                           const std::string& where, const std::string& call, bool report_required);

    // "old", "new" or "" (neither). A removal's end is compared after a
    // restart, when what it scheduled for the restart has gone.
    std::string state_of(const sim::Machine& m);

    MachineView view_after_restart(const sim::Machine& m);

    bool enough() const;

    void violation(const std::string& where, const std::string& call, const std::string& what,
                   const sim::Machine* m);

    const Scenario& s_;
    const ExploreOptions& o_;
    ExploreResult r_;
    MachineView old_, new_;
};

}  // namespace holvar::simtool
