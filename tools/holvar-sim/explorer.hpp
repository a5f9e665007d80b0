// The crash and fault explorer: a transaction cut short by a power cut at
// every mutating call (under every metadata cut the crash model allows, with
// unflushed contents dropped or torn), then --recover, itself cut short at
// every one of its own mutating calls; and the same transaction with every
// platform call failed, once and for good. Every end state is held to the
// engine's promise: the machine is exactly the old installation or exactly
// the new one, no file is lost on the way, the journal ends, a second
// --recover changes nothing, and the report is sound and tells the truth.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "explore_scenarios.hpp"

namespace holvar::simtool {

struct ExploreOptions {
    uint64_t seed = 1;
    // How many crash points, recovery crash points per crash image and
    // failed calls are walked: all of them when 0 or when there are no more;
    // otherwise that many, drawn with `seed` (the first and last always).
    size_t crash_points = 0;
    size_t cut_points = 0;  // metadata cuts per crash point (kept from 0 to all)
    size_t recovery_crash_points = 0;
    size_t fault_points = 0;
    // Seeds of the torn-contents crash images (besides contents dropped).
    std::vector<uint64_t> tear_seeds = {1, 2};
    bool crashes = true;
    bool recovery_crashes = true;  // cut --recover short too
    bool faults = true;
    // The crash images of a run taken as it goes (one run yields every one,
    // and one recovery every cut of it); false: each re-run from the start up
    // to its crash point, as the machine's armed crash does.
    bool snapshots = true;
    // A machine exactly like one already walked (the same fingerprint) ends
    // as that one did: its ends are counted again, not walked again. false:
    // every state walked.
    bool once_per_machine = true;
    // Each machine taken for one already walked is also saved and compared
    // whole with it: a violation when they differ (tests; costly).
    bool check_fingerprints = false;
    size_t violations_kept = 5;        // reported in full; the rest are counted
    size_t stop_after_violations = 0;  // the walk ends once this many are found (0: never)
};

struct Violation {
    std::string where;  // the crash point or the failed call, and what ran after it
    std::string call;   // the boundary call the power cut struck in, or the one failed
    std::string what;
    std::vector<std::string> diff_old;  // the machine against the old installation
    std::vector<std::string> diff_new;  // and against the new one
};

struct ExploreResult {
    std::string scenario;
    uint64_t states = 0;
    uint64_t replayed = 0;       // of them, ends of a machine already walked, counted again
    uint64_t crash_images = 0;   // power cuts of the run, each then recovered
    uint64_t recovery_cuts = 0;  // power cuts of those recoveries
    uint64_t failed_calls = 0;   // runs with a call failed
    // Recovery cuts of a disk cut before, on a machine that differs from
    // that one's in what a power cut does not keep: walked anyway because
    // fingerprints are checked, and found to end as that one did.
    uint64_t cuts_compared = 0;
    uint64_t clean_mutating_calls = 0;
    uint64_t clean_boundary_calls = 0;
    uint64_t crash_points_walked = 0;  // of clean_mutating_calls
    uint64_t failed_calls_walked = 0;  // of clean_boundary_calls, each with every error
    double seconds = 0;                // real time the walk took
    double crash_seconds = 0;          // of it, the power cuts' (the rest: failed calls)
    std::string clean_outcome;
    std::map<std::string, uint64_t> outcomes;  // how each explored state ended
    uint64_t violation_count = 0;
    std::vector<Violation> violations;  // the first ones
};

ExploreResult explore(const Scenario& scenario, const ExploreOptions& options);

// The violation as lines for a person: where, the call, what, the diffs.
std::vector<std::string> describe(const Violation& v);

}  // namespace holvar::simtool
