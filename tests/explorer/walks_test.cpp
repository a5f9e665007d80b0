// The explorer's other walks: the setup program retrying after each way a
// run ends, a person's hands before the recovery, a hostile neighbour
// between two calls of the engine, and a soak of transactions in a row on
// one machine. The test suite walks samples under the sanitizers; CI walks
// far more on the optimised build (HOLVAR_WALKS_PROFILE=wide, a step of its
// own after the crash walk's):
//   HOLVAR_WALKS_PROFILE=wide build/release/tests/test_explorer --gtest_filter='*Walks*:Soak*'
//   HOLVAR_SOAK_SEED=7 HOLVAR_WALKS_PROFILE=wide build/release/tests/test_explorer
//   --gtest_filter='Soak*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "explore_soak.hpp"
#include "explore_walks.hpp"

namespace holvar::simtool {
namespace {

enum class Walk { retry, hands, neighbour };

// Crash points (turns for the neighbour) and failed calls walked (0: all).
struct Budget {
    size_t points;
    size_t faults;
};

struct WalkRow {
    Walk walk;
    const char* scenario;
    Budget quick;
    Budget wide;
};

const WalkRow kWalkRows[] = {
    {Walk::retry, "fresh_install", {2, 1}, {0, 40}},
    {Walk::retry, "fresh_install_failing_verification", {0, 0}, {0, 40}},
    {Walk::retry, "upgrade_over_running_service", {0, 0}, {0, 40}},
    {Walk::retry, "upgrade_failing_verification", {3, 1}, {0, 40}},
    {Walk::retry, "upgrade_with_held_file", {0, 0}, {0, 20}},
    {Walk::retry, "upgrade_with_generated_items", {0, 0}, {0, 40}},
    {Walk::retry, "removal", {2, 1}, {0, 40}},
    {Walk::retry, "removal_with_held_file", {0, 0}, {0, 40}},
    {Walk::retry, "repair_of_a_disabled_service", {0, 0}, {0, 40}},
    {Walk::hands, "fresh_install_without_uninstaller_failing_verification", {2, 0}, {0, 0}},
    {Walk::hands, "upgrade_over_running_service", {0, 0}, {0, 0}},
    {Walk::hands, "upgrade_failing_verification", {0, 0}, {0, 0}},
    {Walk::hands, "upgrade_with_generated_items", {3, 0}, {0, 0}},
    {Walk::hands, "removal", {0, 0}, {0, 0}},
    {Walk::hands, "removal_with_client_running", {0, 0}, {0, 0}},
    {Walk::hands, "repair_of_a_disabled_service", {0, 0}, {0, 0}},
    {Walk::neighbour, "fresh_install", {0, 0}, {0, 0}},
    {Walk::neighbour, "fresh_install_failing_verification", {0, 0}, {0, 0}},
    {Walk::neighbour, "fresh_install_without_uninstaller_failing_verification", {0, 0}, {0, 0}},
    {Walk::neighbour, "upgrade_over_running_service", {1, 0}, {0, 0}},
    {Walk::neighbour, "upgrade_failing_verification", {0, 0}, {0, 0}},
    {Walk::neighbour, "upgrade_with_held_file", {0, 0}, {0, 0}},
    {Walk::neighbour, "upgrade_with_generated_items", {0, 0}, {0, 0}},
    {Walk::neighbour, "upgrade_with_a_service_image_users_may_change", {0, 0}, {0, 0}},
    {Walk::neighbour, "upgrade_with_a_journal_folder_users_may_write", {2, 0}, {0, 0}},
    {Walk::neighbour, "removal", {0, 0}, {0, 0}},
    {Walk::neighbour, "removal_with_held_file", {0, 0}, {0, 0}},
    {Walk::neighbour, "removal_with_client_running", {0, 0}, {0, 0}},
    {Walk::neighbour, "removal_with_logs_users_may_write", {2, 0}, {0, 0}},
    {Walk::neighbour, "repair_of_a_disabled_service", {0, 0}, {0, 0}},
};

bool wide() {
    const char* profile = std::getenv("HOLVAR_WALKS_PROFILE");
    return profile && std::string(profile) == "wide";
}

const char* walk_name(Walk w) {
    return w == Walk::retry ? "retry" : w == Walk::hands ? "hands" : "neighbour";
}

std::string violations_text(const ExploreResult& r) {
    std::string text;
    for (const Violation& v : r.violations)
        for (const std::string& line : describe(v)) text += line + "\n";
    return text;
}

class Walks : public ::testing::TestWithParam<WalkRow> {};

// A row with no quick budget is walked only in the wide profile.
TEST_P(Walks, EveryStateEndsInTheOldOrTheNewInstallationOrAnHonestRefusal) {
    const WalkRow& row = GetParam();
    const Budget& b = wide() ? row.wide : row.quick;
    if (!wide() && b.points == 0) GTEST_SKIP() << "walked in the wide profile";
    auto scenario = builtin_scenario(row.scenario);
    ASSERT_TRUE(scenario) << scenario.error().message;
    ExploreOptions o;
    o.seed = std::strtoull(
        std::getenv("HOLVAR_EXPLORE_SEED") ? std::getenv("HOLVAR_EXPLORE_SEED") : "1", nullptr, 10);
    o.crash_points = b.points;
    o.fault_points = b.faults;
    o.faults = wide() || b.faults > 0;
    ExploreResult r;
    std::string extra;
    if (row.walk == Walk::retry) r = explore_retries(*scenario, o);
    if (row.walk == Walk::hands) r = explore_hands(*scenario, o);
    if (row.walk == Walk::neighbour) {
        const NeighbourResult n = explore_neighbour(*scenario, o);
        r = n.result;
        extra = ", " + std::to_string(n.turns) + " turns, " + std::to_string(n.actions) +
                " actions (" + std::to_string(n.took_effect) + " took effect)";
    }
    std::cout << walk_name(row.walk) << " " << row.scenario << ": " << r.states << " states, "
              << r.violation_count << " violations" << extra << ";";
    for (const auto& [name, count] : r.outcomes) std::cout << " " << name << " " << count;
    std::cout << "\n";
    EXPECT_EQ(r.violation_count, 0u) << violations_text(r);
    EXPECT_GT(r.states, 0u);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Walks, ::testing::ValuesIn(kWalkRows), [](const auto& info) {
    return std::string(walk_name(info.param.walk)) + "_" + info.param.scenario;
});

// One seed in CI (HOLVAR_SOAK_SEED for another), a short soak in the suite.
TEST(Soak, TransactionsInARowLeaveOneDefinedStateAndNothingPiledUp) {
    const char* seed = std::getenv("HOLVAR_SOAK_SEED");
    const SoakResult r = soak(seed ? std::strtoull(seed, nullptr, 10) : 1, wide() ? 1000 : 30);
    std::cout << soak_line(r) << "\n";
    for (const std::string& v : r.violations) std::cout << "violation: " << v << "\n";
    EXPECT_EQ(r.violation_count, 0u);
    EXPECT_EQ(r.left.at("stage directories"), 0u);
    EXPECT_EQ(r.left.at("pending file rename operations"), 0u);
    EXPECT_LE(r.left.at("services"), 1u);
}

}  // namespace
}  // namespace holvar::simtool
