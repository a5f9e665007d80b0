// The crash explorer's speed, the same walk three ways in one process: crash
// images re-run from the start up to each crash point (each recovery cut
// re-run likewise); crash images taken as one run goes (one recovery run
// yielding every cut of it); and those with machines alike walked once (a
// state whose machine has the fingerprint of one already walked ends as that
// one did). Each reports states per second; the walk is the
// full one (every metadata cut, both tears, every recovery cut) over a spread
// of crash points, failed calls left out (they re-run from the start either
// way); and the walk CI makes, each recovery cut at its first and last
// mutating calls. bench/README.md keeps the figures.
#include <benchmark/benchmark.h>

#include <string>

#include "explorer.hpp"

namespace {

using namespace holvar::simtool;

enum class Way { rerun, snapshots, once_per_machine };

void explore_every_way(benchmark::State& state, const char* scenario_name, Way way,
                       size_t recovery_cuts = 0) {
    auto scenario = builtin_scenario(scenario_name);
    if (!scenario) {
        state.SkipWithError(scenario.error().message.c_str());
        return;
    }
    ExploreOptions o;
    o.crash_points = 10;
    o.faults = false;
    o.snapshots = way != Way::rerun;
    o.once_per_machine = way == Way::once_per_machine;
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

// A walk registered every way, once each: <label>_rerun, <label>_snapshots
// and <label>_once_per_machine.
#define HOLVAR_WAY(label, scenario, way, recovery_cuts)                                    \
    BENCHMARK_CAPTURE(explore_every_way, label##_##way, scenario, Way::way, recovery_cuts) \
        ->Unit(benchmark::kSecond)                                                         \
        ->Iterations(1)
#define HOLVAR_EVERY_WAY(label, scenario, recovery_cuts)   \
    HOLVAR_WAY(label, scenario, rerun, recovery_cuts);     \
    HOLVAR_WAY(label, scenario, snapshots, recovery_cuts); \
    HOLVAR_WAY(label, scenario, once_per_machine, recovery_cuts)

HOLVAR_EVERY_WAY(removal, "removal", 0);
HOLVAR_EVERY_WAY(upgrade, "upgrade_over_running_service", 0);
// As CI walked before: each recovery cut at its first and last mutating calls.
HOLVAR_EVERY_WAY(upgrade_two_cuts, "upgrade_over_running_service", 2);

BENCHMARK_MAIN();
