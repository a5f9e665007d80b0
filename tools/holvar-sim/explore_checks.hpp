// The end of an explored run, held to the engine's promise: the report is
// sound and says what the machine is; a pending outcome is brought to an end
// by the setup program's --recover; the machine is exactly the old
// installation or exactly the new one, as the outcome says; the journal ends;
// a second --recover changes nothing. Every walk of the explorer ends its
// states here.
#pragma once

#include <memory>
#include <random>
#include <string>
#include <vector>

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

// The view with the object ids left out: what another stage of the same
// payload installs has other ids.
MachineView without_ids(MachineView view);

// 1..n, or `budget` of them drawn with `rng`, the first and last always.
std::vector<uint64_t> sample_points(uint64_t n, size_t budget, std::mt19937_64& rng);

class EndChecks {
  protected:
    EndChecks(const Scenario& s, const ExploreOptions& o)
        : s_(s),
          o_(o),
          dirs_made_from_(next_object_index(*s.base, s.txn.root)),
          restart_may_end_pending_(s.held_until_restart) {}

    // The scenario's clean run: the two installations, the run's calls (their
    // names into `call_names` when given). False, with a violation, when it
    // does not end as a clean run must.
    // `end`, when given: the machine the clean run left and its exit code.
    struct CleanEnd {
        std::unique_ptr<sim::Machine> machine;
        int code = 0;
        std::string command;  // whose report tells the end: the run's, or the recovery's
    };
    bool learn_clean_run(std::vector<std::string>* call_names, CleanEnd* end = nullptr);
    // What the clean run's end `m` (exit `code`) makes the two installations.
    bool learn_clean_end(sim::Machine& m, int& code, std::string& command);

    // The scenario's run cut by a power cut at its mutating call `k`, every
    // write since the last barrier kept, and restarted when the scenario
    // says so; none when the run ended first. `call`: where the cut struck.
    std::unique_ptr<sim::Machine> restarted_crash_image(uint64_t k, std::string& call);

    // `report_required`: a run whose calls were failed may have been unable
    // to write its report; its exit code then stands for the outcome.
    void check_end(sim::Machine& m, int code, const std::string& command, const std::string& where,
                   const std::string& call, bool report_required);

    std::string outcome_of(const sim::Machine& m, int code, const std::string& command,
                           const std::string& where, const std::string& call, bool report_required);

    // "old", "new" or "" (neither). A removal's end is compared after a
    // restart, when what it scheduled for the restart has gone.
    // `seen`, when given: the view of `m` taken on the way.
    std::string state_of(const sim::Machine& m, MachineView* seen = nullptr);

    MachineView view_after_restart(const sim::Machine& m);

    // The machine's view, the folders made since the scenario's start
    // compared by kind alone.
    MachineView view(const sim::Machine& m) const {
        return view_of(m, txn().root, dirs_made_from_);
    }

    ViewDigest digest(const sim::Machine& m) const {
        return view_digest(m, txn().root, dirs_made_from_);
    }

    // A view without what a person changed by hand (`touched_`,
    // `service_touched_`), which no recovery can know of.
    MachineView tolerated(MachineView view) const;

    // The transaction being checked: the scenario's, or a later run's.
    const Transaction& txn() const { return txn_ ? *txn_ : s_.txn; }

    bool enough() const;

    // A recovery that cannot go on because a person put their own file in
    // the place of one the run had placed, and says so: it stays
    // recovery_pending, and a further --recover changes nothing (it neither
    // loops nor goes on over the person's file).
    bool honest_pending(sim::Machine& m);

    // A stage whose journal folder others may write, refused as it must be:
    // the machine the old installation, and a further --recover pending
    // again without changing anything.
    bool refused_journal(sim::Machine& m);

    // A further --recover ends pending and changes nothing.
    bool pending_again_unchanged(sim::Machine& m);

    void violation(const std::string& where, const std::string& call, const std::string& what,
                   const sim::Machine* m);

    const Scenario& s_;
    const ExploreOptions& o_;
    uint64_t dirs_made_from_;
    ExploreResult r_;
    MachineView old_, new_;

    const Transaction* txn_ = nullptr;  // none: the scenario's
    // The installation a run that changes nothing (refused, rolled back)
    // must leave: the one it started from; empty when that was neither
    // (a power cut's image, which such a run must not leave half done).
    std::string kept_ = "old";
    // A name under the root a person deleted or replaced, and whether an
    // administrator reconfigured the service: left out of every comparison.
    std::u16string touched_;
    bool service_touched_ = false;
    // Compare without object ids: a run before this one (a retry's first
    // run, a neighbour's doings) made objects, and the engine's got others.
    bool ids_ignored_ = false;
    // A file held for good (a neighbour's) keeps a run pending until the
    // restart the setup program then asks for, after which --recover ends it.
    bool restart_may_end_pending_ = false;

    // --recover while the exit code is pending, once more after a restart
    // when that may end it; the last exit code.
    int finish_pending(sim::Machine& m, int code);
};

}  // namespace holvar::simtool
