// The crash and fault explorer over whole transactions, through the real
// front end and drivers: every scenario ends every explored state in the old
// installation or the new one; each deliberately broken engine is caught.
//
// One scenario alone, with another seed and the wide walk:
//   HOLVAR_EXPLORE_SEED=7 HOLVAR_EXPLORE_PROFILE=wide test_explorer --gtest_filter='*/removal'
//   HOLVAR_EXPLORE_RECOVERY_CUTS=0 cuts every recovery at every one of its mutating calls
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "explore_view.hpp"
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

// The quick walk of the test suite (under the sanitizers), a sample; and the
// wide one CI runs on the optimised build (HOLVAR_EXPLORE_PROFILE=wide):
// every crash point, every metadata cut and both tears under each, and every
// platform call failed with every error, and every recovery cut at every one
// of its mutating calls: nothing sampled.
// HOLVAR_EXPLORE_CRASH_POINTS, _RECOVERY_CUTS and _FAULT_POINTS override the
// budgets (0: all); HOLVAR_EXPLORE_CHECK_FINGERPRINTS=1 also walks and
// compares each machine taken for one already walked.
struct Row {
    const char* scenario;
    Budget quick;
};

constexpr Budget kEverything{0, 0, 0, 0};

const Row kRows[] = {
    {"fresh_install", {12, 2, 2, 6}},
    {"fresh_install_failing_verification", {8, 2, 2, 4}},
    {"fresh_install_without_uninstaller_failing_verification", {8, 2, 2, 4}},
    {"upgrade_over_running_service", {12, 2, 2, 6}},
    {"upgrade_failing_verification", {8, 2, 2, 4}},
    {"upgrade_with_held_file", {8, 2, 2, 4}},
    {"removal", {12, 2, 2, 6}},
    {"removal_with_held_file", {8, 2, 2, 4}},
    {"removal_with_client_running", {8, 2, 2, 4}},
    {"upgrade_with_generated_items", {6, 2, 2, 3}},
    {"upgrade_with_a_service_image_users_may_change", {6, 2, 2, 3}},
    {"removal_with_logs_users_may_write", {6, 2, 2, 3}},
    {"repair_of_a_disabled_service", {6, 2, 2, 3}},
    {"upgrade_with_a_journal_folder_users_may_write", {4, 2, 2, 2}},
};

ExploreOptions options_for(const Row& row) {
    const char* profile = std::getenv("HOLVAR_EXPLORE_PROFILE");
    const Budget& b = profile && std::string(profile) == "wide" ? kEverything : row.quick;
    ExploreOptions o;
    o.seed = env_number("HOLVAR_EXPLORE_SEED", 1);
    o.crash_points = env_number("HOLVAR_EXPLORE_CRASH_POINTS", b.crash_points);
    o.cut_points = b.cut_points;
    o.recovery_crash_points = env_number("HOLVAR_EXPLORE_RECOVERY_CUTS", b.recovery_crash_points);
    o.fault_points = env_number("HOLVAR_EXPLORE_FAULT_POINTS", b.fault_points);
    o.check_fingerprints = env_number("HOLVAR_EXPLORE_CHECK_FINGERPRINTS", 0) != 0;
    return o;
}

std::string summary(const ExploreResult& r) {
    std::string text =
        r.scenario + ": " + std::to_string(r.states) + " states, " +
        std::to_string(r.violation_count) + " violations (" + std::to_string(r.replayed) +
        " states the same machine as one walked; clean run " + r.clean_outcome + ", " +
        std::to_string(r.clean_mutating_calls) + " mutating calls; crash points " +
        std::to_string(r.crash_points_walked) + " of " + std::to_string(r.clean_mutating_calls) +
        ", failed calls " + std::to_string(r.failed_calls_walked) + " of " +
        std::to_string(r.clean_boundary_calls) + "; " +
        std::to_string(static_cast<uint64_t>(r.seconds > 0 ? r.states / r.seconds : 0)) +
        " states/s; " + std::to_string(static_cast<uint64_t>(r.crash_seconds)) + " s of " +
        std::to_string(static_cast<uint64_t>(r.seconds)) + " in power cuts; " +
        std::to_string(r.crash_images) + " crash images, " + std::to_string(r.recovery_cuts) +
        " recoveries cut short, " + std::to_string(r.failed_calls) + " runs with a failed call);";
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
    const ExploreOptions o = options_for(GetParam());
    const ExploreResult r = explore(*scenario, o);
    std::cout << summary(r) << "\n";
    if (o.check_fingerprints) std::cout << "cuts compared: " << r.cuts_compared << "\n";
    RecordProperty("states", static_cast<int>(r.states));
    EXPECT_EQ(r.violation_count, 0u) << first_violations(r);
    EXPECT_GT(r.states, 20u);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Explorer, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.scenario); });

// ---- crash images taken as a run goes are the images a re-run leaves

// The machine whole: everything it saves, the counters, the crash model's
// pending metadata and unflushed contents (through every cut and a tear).
void expect_same_machine(const sim::Machine& taken, const sim::Machine& rerun,
                         const std::string& at) {
    EXPECT_EQ(taken.to_json(), rerun.to_json()) << at;
    EXPECT_EQ(taken.mutating_calls(), rerun.mutating_calls()) << at;
    EXPECT_EQ(taken.boundary_calls(), rerun.boundary_calls()) << at;
    EXPECT_EQ(taken.state().frozen, rerun.state().frozen) << at;
    EXPECT_EQ(taken.state().dirty, rerun.state().dirty) << at;
    ASSERT_EQ(taken.metadata_since_barrier(), rerun.metadata_since_barrier()) << at;
    for (size_t kept = 0; kept <= taken.metadata_since_barrier(); ++kept) {
        for (std::optional<uint64_t> tear :
             {std::optional<uint64_t>{}, std::optional<uint64_t>{7}}) {
            auto a = taken.clone(), b = rerun.clone();
            a->crash(sim::CrashCut{kept, tear});
            b->crash(sim::CrashCut{kept, tear});
            EXPECT_EQ(a->to_json(), b->to_json()) << at << ", keeping " << kept;
        }
    }
}

struct Images {
    std::map<uint64_t, std::pair<std::unique_ptr<sim::Machine>, std::string>> at;
};

// One run on a copy of `from`, its crash images at `ks` taken as it goes.
Images taken_as_it_goes(const Scenario& s, const sim::Machine& from,
                        const std::vector<std::u16string>& args, const std::set<uint64_t>& ks) {
    Images images;
    auto m = from.clone();
    m->take_crash_images(
        [&](uint64_t n, std::unique_ptr<sim::Machine> image, std::string_view call) {
            images.at[n] = {std::move(image), std::string(call)};
        },
        [&](uint64_t n, const sim::Machine&) { return ks.contains(n); });
    (void)run_engine_from_stage(*m, s.txn, args);
    return images;
}

void expect_images_match_reruns(const Scenario& s, const sim::Machine& from,
                                const std::vector<std::u16string>& args,
                                const std::set<uint64_t>& ks, const std::string& what) {
    Images images = taken_as_it_goes(s, from, args, ks);
    for (uint64_t k : ks) {
        const std::string at = what + " at mutating call " + std::to_string(k);
        ASSERT_TRUE(images.at.contains(k)) << at;
        auto rerun = from.clone();
        rerun->arm_crash_after(k);
        EngineRun run = run_engine_from_stage(*rerun, s.txn, args);
        ASSERT_TRUE(run.crashed) << at;
        EXPECT_EQ(images.at[k].second, run.crash_call) << at;
        expect_same_machine(*images.at[k].first, *rerun, at);
    }
}

struct SnapshotRow {
    const char* scenario;
    std::set<uint64_t> crash_points;  // of the transaction
    uint64_t recovered_point;         // a crash point whose --recover is cut
    std::set<uint64_t> recovery_points;
};

const SnapshotRow kSnapshotRows[] = {
    {"fresh_install", {1, 2, 40, 97, 181}, 60, {1, 3, 9}},
    {"upgrade_over_running_service", {1, 17, 120, 200, 278}, 150, {1, 2, 20, 41}},
    {"removal_with_held_file", {1, 30, 64, 115}, 50, {1, 5, 12}},
};

class CrashImages : public ::testing::TestWithParam<SnapshotRow> {};

// The end checks compare digests of views taken straight from a machine with
// digests of views kept: the two must agree, and differ where views do.
void expect_digests_agree(const Scenario& s, const Images& images) {
    std::map<uint64_t, std::pair<MachineView, ViewDigest>> seen;
    for (const auto& [k, image] : images.at) {
        seen[k] = {view_of(*image.first, s.txn.root), view_digest(*image.first, s.txn.root)};
        EXPECT_EQ(digest_of(seen[k].first), seen[k].second) << "at " << k;
    }
    for (const auto& [k, a] : seen)
        for (const auto& [j, b] : seen)
            EXPECT_EQ(a.first == b.first, a.second == b.second) << "at " << k << " and " << j;
}

TEST_P(CrashImages, TakenAsTheRunGoesAreWhatARerunToTheCrashPointLeaves) {
    auto scenario = builtin_scenario(GetParam().scenario);
    ASSERT_TRUE(scenario) << scenario.error().message;
    expect_images_match_reruns(*scenario, *scenario->base, scenario->txn.args,
                               GetParam().crash_points, "the transaction");
    expect_digests_agree(*scenario, taken_as_it_goes(*scenario, *scenario->base, scenario->txn.args,
                                                     GetParam().crash_points));
    // A recovery of a crash image, cut as it goes and re-run.
    Images image = taken_as_it_goes(*scenario, *scenario->base, scenario->txn.args,
                                    {GetParam().recovered_point});
    ASSERT_TRUE(image.at.contains(GetParam().recovered_point));
    sim::Machine& crashed = *image.at[GetParam().recovered_point].first;
    crashed.crash();
    crashed.reboot();
    settle(crashed);
    expect_images_match_reruns(*scenario, crashed, recover_args(scenario->txn),
                               GetParam().recovery_points, "its --recover");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashImages, ::testing::ValuesIn(kSnapshotRows),
                         [](const auto& info) { return std::string(info.param.scenario); });

// The same walk three ways: each state re-run from the start and walked; the
// crash images taken as the run goes, every state walked; and machines alike
// walked once, each one also compared whole with the machine it was taken
// for. The same states, ending the same ways.
struct WaysRow {
    const char* scenario;
    size_t crash_points, recovery_crash_points, fault_points;
    // Recovery cuts of one disk whose machines differ in the numbers of
    // their next handle and process: walked once, each compared.
    bool cuts_alike_but_for_numbers;
};

const WaysRow kWaysRows[] = {
    {"upgrade_failing_verification", 6, 3, 0, false},
    {"removal_with_held_file", 6, 0, 20, true},
    {"repair_of_a_disabled_service", 0, 0, 20, false},
};

class Ways : public ::testing::TestWithParam<WaysRow> {};

TEST_P(Ways, EveryWayOfWalkingEndsTheSameStatesTheSameWays) {
    auto scenario = builtin_scenario(GetParam().scenario);
    ASSERT_TRUE(scenario) << scenario.error().message;
    ExploreOptions o;
    o.crash_points = GetParam().crash_points;
    o.cut_points = 2;
    o.recovery_crash_points = GetParam().recovery_crash_points;
    o.fault_points = GetParam().fault_points;
    o.faults = GetParam().fault_points > 0;
    o.snapshots = false;
    o.once_per_machine = false;
    const ExploreResult rerun = explore(*scenario, o);
    o.snapshots = true;
    const ExploreResult taken = explore(*scenario, o);
    o.once_per_machine = true;
    o.check_fingerprints = true;
    const ExploreResult once = explore(*scenario, o);
    for (const ExploreResult* r : {&taken, &once}) {
        EXPECT_EQ(r->states, rerun.states);
        EXPECT_EQ(r->crash_images, rerun.crash_images);
        EXPECT_EQ(r->recovery_cuts, rerun.recovery_cuts);
        EXPECT_EQ(r->failed_calls, rerun.failed_calls);
        EXPECT_EQ(r->outcomes, rerun.outcomes);
        EXPECT_EQ(r->violation_count, 0u) << first_violations(*r);
    }
    EXPECT_EQ(rerun.violation_count, 0u) << first_violations(rerun);
    EXPECT_GT(once.replayed, 0u) << "no two machines were alike";
    EXPECT_EQ(once.cuts_compared > 0, GetParam().cuts_alike_but_for_numbers);
    std::cout << "machines alike walked once, " << summary(once) << "\n";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Ways, ::testing::ValuesIn(kWaysRows),
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

// --all walks every point: a budget beside it is a mistake the packager hears of.
TEST(ExploreVerb, RefusesABudgetBesideAll) {
    VerbArgs args;
    args.positionals = {"unused.json"};
    args.options = {{"--root", "C:\\Program Files\\Holvar"},
                    {"--from", "v1"},
                    {"--to", "v2"},
                    {"--recovery-crash-points", "2"}};
    args.switches = {"--all"};
    auto code = verb_explore(args);
    ASSERT_FALSE(code);
    EXPECT_NE(code.error().message.find("--all walks every point"), std::string::npos);
}

}  // namespace
}  // namespace holvar::simtool
