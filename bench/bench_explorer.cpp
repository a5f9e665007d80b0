// The crash explorer's speed, the same walk both ways in one process: crash
// images re-run from the start up to each crash point (each recovery cut
// re-run likewise), and crash images taken as one run goes (one recovery run
// yielding every cut of it). Each reports states per second; the walk is the
// full one (every metadata cut, both tears, every recovery cut) over a spread
// of crash points, failed calls left out (they re-run from the start either
// way); and the walk CI makes, each recovery cut at its first and last
// mutating calls. bench/README.md keeps the figures.
#include <benchmark/benchmark.h>

#include <string>

#include "explorer.hpp"

namespace {

using namespace holvar::simtool;

void explore_both_ways(benchmark::State& state, const char* scenario_name, bool snapshots,
                       size_t recovery_cuts = 0) {
    auto scenario = builtin_scenario(scenario_name);
    if (!scenario) {
        state.SkipWithError(scenario.error().message.c_str());
        return;
    }
    ExploreOptions o;
    o.crash_points = 10;
    o.faults = false;
    o.snapshots = snapshots;
    o.recovery_crash_points = recovery_cuts;
    uint64_t states = 0, violations = 0;
    for (auto _ : state) {
        const ExploreResult r = explore(*scenario, o);
        states += r.states;
        violations += r.violation_count;
    }
    state.counters["states"] = static_cast<double>(states);
    state.counters["states_per_second"] =
        benchmark::Counter(static_cast<double>(states), benchmark::Counter::kIsRate);
    if (violations != 0) state.SkipWithError("the walk found violations");
}

}  // namespace

// A walk registered both ways, once each: <label>_rerun and <label>_snapshots.
#define HOLVAR_BOTH_WAYS(label, scenario, recovery_cuts)                                   \
    BENCHMARK_CAPTURE(explore_both_ways, label##_rerun, scenario, false, recovery_cuts)    \
        ->Unit(benchmark::kSecond)                                                         \
        ->Iterations(1);                                                                   \
    BENCHMARK_CAPTURE(explore_both_ways, label##_snapshots, scenario, true, recovery_cuts) \
        ->Unit(benchmark::kSecond)                                                         \
        ->Iterations(1)

HOLVAR_BOTH_WAYS(removal, "removal", 0);
HOLVAR_BOTH_WAYS(upgrade, "upgrade_over_running_service", 0);
// As CI walks: each recovery cut at its first and last mutating calls.
HOLVAR_BOTH_WAYS(upgrade_two_cuts, "upgrade_over_running_service", 2);

BENCHMARK_MAIN();
