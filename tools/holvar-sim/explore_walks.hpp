// The explorer's walks of runs that are not one clean transaction: the setup
// program running --apply (or --remove) again after each way the first run
// can end; a person's hands on the machine between a power cut and the
// recovery; and an ordinary user's process taking a turn between any two
// calls of the engine. Every end state is held to the same promise as the
// crash walk's.
#pragma once

#include <cstdint>

#include "explore_scenarios.hpp"
#include "explorer.hpp"

namespace holvar::simtool {

// The retry walk. The first run is the clean one, each crash point (the
// image restarted, nothing recovered), and each of the clean run's calls
// failed with a full disk, once and from then on (`fault_points` of them,
// all when 0). After it the setup program runs the same command again from
// the same stage (which must be refused, or end pending and be recovered),
// then from a new stage. Each of the two ends is a state.
ExploreResult explore_retries(const Scenario& scenario, const ExploreOptions& options);

// The hands walk. Each crash point's image, restarted, then one of: a file
// the run placed deleted or replaced by another, the service reconfigured
// by an administrator, one more restart, two more restarts; then --recover.
// Where a person took a file the engine cannot know of, the honest end is
// the old or the new installation but for that file, with the recovery
// ended and a second --recover changing nothing.
ExploreResult explore_hands(const Scenario& scenario, const ExploreOptions& options);

// The neighbour walk: before each mutating call of the clean run (sampled
// by `crash_points`, all when 0), an ordinary user's process takes one
// action of its menu, aimed at one object the clean run touches (each
// object in turn, or every object when `every_target`).
struct NeighbourResult {
    ExploreResult result;
    uint64_t turns = 0;
    uint64_t actions = 0;      // actions attempted
    uint64_t took_effect = 0;  // of those, what the machine let the user do
};
NeighbourResult explore_neighbour(const Scenario& scenario, const ExploreOptions& options,
                                  bool every_target = false);

}  // namespace holvar::simtool
