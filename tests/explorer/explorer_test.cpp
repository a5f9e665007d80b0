// The crash and fault explorer over whole transactions, through the real
// front end and drivers: every scenario ends every explored state in the old
// installation or the new one; each deliberately broken engine is caught.
//
// One scenario alone, with another seed and the wide walk:
//   HOLVAR_EXPLORE_SEED=7 HOLVAR_EXPLORE_PROFILE=wide test_explorer --gtest_filter='*/removal'
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <chrono>
#include "explorer.hpp"
#include "platform/sim/machine_state.hpp"
#include "txn/test_seam.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

using txn::seam::Breakage;

uint64_t env_number(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// How much of a scenario is walked: crash points, metadata cuts per crash
// point, recovery crash points per crash image, failed calls (0: all).
struct Budget {
    size_t crash_points;
    size_t cut_points;
    size_t recovery_crash_points;
    size_t fault_points;
};

// The quick walk of the test suite (under the sanitizers), and the wide one
// CI runs on the optimised build (HOLVAR_EXPLORE_PROFILE=wide): the removals
// at every crash point and cut (the removal with every call failed too),
// samples of the others.
struct Row {
    const char* scenario;
    Budget quick;
    Budget wide;
};

const Row kRows[] = {
    {"fresh_install", {12, 2, 2, 6}, {60, 0, 1, 60}},
    {"fresh_install_failing_verification", {8, 2, 2, 4}, {16, 0, 1, 30}},
    {"fresh_install_without_uninstaller_failing_verification", {8, 2, 2, 4}, {0, 2, 1, 30}},
    {"upgrade_over_running_service", {12, 2, 2, 6}, {16, 0, 1, 30}},
    {"upgrade_failing_verification", {8, 2, 2, 4}, {16, 0, 1, 30}},
    {"upgrade_with_held_file", {8, 2, 2, 4}, {16, 0, 1, 30}},
    {"removal", {12, 2, 2, 6}, {0, 0, 2, 0}},
    {"removal_with_held_file", {8, 2, 2, 4}, {0, 0, 1, 60}},
    {"removal_with_client_running", {8, 2, 2, 4}, {0, 2, 1, 30}},
};

ExploreOptions options_for(const Row& row) {
    const char* profile = std::getenv("HOLVAR_EXPLORE_PROFILE");
    const Budget& b = profile && std::string(profile) == "wide" ? row.wide : row.quick;
    ExploreOptions o;
    o.seed = env_number("HOLVAR_EXPLORE_SEED", 1);
    o.crash_points = b.crash_points;
    o.cut_points = b.cut_points;
    o.recovery_crash_points = b.recovery_crash_points;
    o.fault_points = b.fault_points;
    return o;
}

std::string summary(const ExploreResult& r) {
    std::string text = r.scenario + ": " + std::to_string(r.states) + " states, " +
                       std::to_string(r.violation_count) + " violations (clean run " +
                       r.clean_outcome + ", " + std::to_string(r.clean_mutating_calls) +
                       " mutating calls; " + std::to_string(r.crash_images) + " crash images, " +
                       std::to_string(r.recovery_cuts) + " recoveries cut short, " +
                       std::to_string(r.failed_calls) + " runs with a failed call);";
    for (const auto& [name, count] : r.outcomes) text += " " + name + " " + std::to_string(count);
    return text;
}

std::string first_violations(const ExploreResult& r) {
    std::string text;
    for (const Violation& v : r.violations)
        for (const std::string& line : describe(v)) text += line + "\n";
    return text;
}

class Explorer : public ::testing::TestWithParam<Row> {};

TEST_P(Explorer, EveryStateEndsInTheOldOrTheNewInstallation) {
    auto scenario = builtin_scenario(GetParam().scenario);
    ASSERT_TRUE(scenario) << scenario.error().message;
    const ExploreResult r = explore(*scenario, options_for(GetParam()));
    std::cout << summary(r) << "\n";
    RecordProperty("states", static_cast<int>(r.states));
    EXPECT_EQ(r.violation_count, 0u) << first_violations(r);
    EXPECT_GT(r.states, 20u);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Explorer, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.scenario); });

// ---- the broken engines: each must be caught

struct Mutant {
    const char* name;
    Breakage breakage;
    const char* scenario;
};

const Mutant kMutants[] = {
    {"journal_rename_without_flush", Breakage::journal_rename_without_flush,
     "upgrade_over_running_service"},
    {"mark_after_step", Breakage::mark_after_step, "removal"},
    {"rollback_without_classification", Breakage::rollback_without_classification,
     "upgrade_failing_verification"},
};

class BrokenEngine : public ::testing::TestWithParam<Mutant> {
  protected:
    void TearDown() override { txn::seam::set_breakage(Breakage::none); }
};

TEST_P(BrokenEngine, IsCaughtByTheExplorer) {
    auto scenario = builtin_scenario(GetParam().scenario);
    ASSERT_TRUE(scenario) << scenario.error().message;
    // Every crash point, the metadata cut short and whole; found once is enough.
    ExploreOptions o;
    o.cut_points = 2;
    o.tear_seeds = {};
    o.recovery_crashes = false;
    o.faults = false;
    o.stop_after_violations = 1;
    txn::seam::set_breakage(GetParam().breakage);
    const ExploreResult r = explore(*scenario, o);
    txn::seam::set_breakage(Breakage::none);
    std::cout << GetParam().name << ": " << summary(r) << "\n";
    ASSERT_GT(r.violation_count, 0u) << "the explorer let a broken engine pass";
    std::cout << "first violation:\n";
    for (const std::string& line : describe(r.violations.front())) std::cout << line << "\n";
}

INSTANTIATE_TEST_SUITE_P(Mutants, BrokenEngine, ::testing::ValuesIn(kMutants),
                         [](const auto& info) { return std::string(info.param.name); });

// The packager's tool with a broken engine: it exits non-zero and names the
// crash point and the call.
TEST(ExploreVerb, ExitsNonZeroOnABrokenEngineNamingTheCrashPointAndTheCall) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("holvar-explore-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "machine.json").string();
    ASSERT_TRUE(sim::Machine::fresh()->save(file));
    VerbArgs args;
    args.positionals = {file};
    args.options = {{"--root", "C:\\Program Files\\Holvar"},
                    {"--from", "v1"},
                    {"--to", "v2"},
                    {"--seed", "5"},
                    {"--crash-points", "12"},
                    {"--cut-points", "1"},
                    {"--recovery-crash-points", "1"},
                    {"--fault-points", "1"},
                    {"--stop-after", "1"}};
    txn::seam::set_breakage(Breakage::journal_rename_without_flush);
    ::testing::internal::CaptureStdout();
    auto code = verb_explore(args);
    const std::string out = ::testing::internal::GetCapturedStdout();
    txn::seam::set_breakage(Breakage::none);
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(code) << code.error().message;
    EXPECT_EQ(*code, kExitViolations) << out;
    EXPECT_NE(out.find("violation: "), std::string::npos) << out;
    EXPECT_NE(out.find("  at power cut at mutating call "), std::string::npos) << out;
    EXPECT_NE(out.find("  call "), std::string::npos) << out;
    std::cout << out.substr(0, out.find("removal after"));
}

}  // namespace
}  // namespace holvar::simtool
