// The broken engines of this turn's fault classes, each caught by the walk
// that should catch it, with the violation printed: a stage planned from
// twice by the retry walk, "nothing placed" decided from the disk by the
// crash walk with its recoveries cut short, and by the neighbour walk a
// restart-time deletion scheduled through a folder a neighbour turns into a
// junction, and a journal trusted by its owner alone (a folder users may
// write, where the neighbour rewrites the engine's journal after its last
// write); and by the soak a service disabled while it ran put back in a way
// Windows refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "explore_soak.hpp"
#include "explore_walks.hpp"
#include "txn/test_seam.hpp"

namespace holvar::simtool {
namespace {

using txn::seam::Breakage;

enum class Walk { crashes, retry, neighbour, soak };

// `points`: crash points (turns) walked, drawn with seed 1 (0: all); for the
// soak, the transactions in a row with seed 1.
// `wide_only`: a walk of thousands of states, left to CI's optimised build
// (HOLVAR_WALKS_PROFILE=wide) rather than the sanitizers' suite.
struct WalkMutant {
    const char* name;
    Breakage breakage;
    Walk walk;
    const char* scenario;
    size_t points;
    bool wide_only;
};

const WalkMutant kWalkMutants[] = {
    {"plan_from_used_stage", Breakage::plan_from_used_stage, Walk::retry,
     "upgrade_failing_verification", 6, false},
    {"placement_from_disk", Breakage::placement_from_disk, Walk::crashes,
     "fresh_install_without_uninstaller_failing_verification", 24, true},
    {"schedule_through_any_folder", Breakage::schedule_through_any_folder, Walk::neighbour,
     "removal_with_logs_users_may_write", 0, true},
    {"trust_by_owner_only", Breakage::trust_by_owner_only, Walk::neighbour,
     "upgrade_with_a_journal_folder_users_may_write", 2, false},
    {"restore_disabled_as_written", Breakage::restore_disabled_as_written, Walk::soak, "", 1000,
     true},
};

class BrokenEngineWalked : public ::testing::TestWithParam<WalkMutant> {
  protected:
    void TearDown() override { txn::seam::set_breakage(Breakage::none); }
};

TEST_P(BrokenEngineWalked, IsCaughtByItsWalk) {
    const char* profile = std::getenv("HOLVAR_WALKS_PROFILE");
    if (GetParam().wide_only && !(profile && std::string(profile) == "wide"))
        GTEST_SKIP() << "walked on the optimised build (HOLVAR_WALKS_PROFILE=wide)";
    if (GetParam().walk == Walk::soak) {
        txn::seam::set_breakage(GetParam().breakage);
        const SoakResult r = soak(1, GetParam().points);
        txn::seam::set_breakage(Breakage::none);
        ASSERT_GT(r.violation_count, 0u) << "the soak let a broken engine pass";
        std::cout << GetParam().name << ": " << soak_line(r) << "; first violation:\n"
                  << r.violations.front() << "\n";
        return;
    }
    auto scenario = builtin_scenario(GetParam().scenario);
    ASSERT_TRUE(scenario) << scenario.error().message;
    ExploreOptions o;
    o.tear_seeds = {};
    o.cut_points = 1;
    o.faults = false;
    o.stop_after_violations = 1;
    o.crash_points = GetParam().points;
    txn::seam::set_breakage(GetParam().breakage);
    ExploreResult r;
    if (GetParam().walk == Walk::retry) r = explore_retries(*scenario, o);
    if (GetParam().walk == Walk::crashes) r = explore(*scenario, o);
    if (GetParam().walk == Walk::neighbour) r = explore_neighbour(*scenario, o).result;
    txn::seam::set_breakage(Breakage::none);
    ASSERT_GT(r.violation_count, 0u) << "the walk let a broken engine pass";
    std::cout << GetParam().name << ": " << r.states << " states; first violation:\n";
    for (const std::string& line : describe(r.violations.front())) std::cout << line << "\n";
}

INSTANTIATE_TEST_SUITE_P(Mutants, BrokenEngineWalked, ::testing::ValuesIn(kWalkMutants),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::simtool
