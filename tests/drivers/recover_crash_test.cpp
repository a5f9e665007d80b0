// A power cut at any mutating call of an install or an upgrade, then
// `--recover` through the real front end: one recovery brings the machine to
// the old installation or to the new one, and a second one changes nothing.
#include <gtest/gtest.h>

#include <functional>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"

namespace holvar::drivers::testing {
namespace {

struct Sweep {
    const char* name;
    bool upgrade;                        // v1 installed first, else a fresh machine
    std::optional<std::string> service;  // the v2 service image
    uint64_t stride;                     // every n-th crash point (the sweep's cost)
    // Between the restart and the recovery an administrator deletes a file
    // the upgrade placed (when it is under the root).
    bool delete_placed = false;
};

const std::string kBroken =
    service_text("broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})");
// v2 adds it: under the root it is always the upgrade's own.
const std::u16string kPlaced = u"lib\\extra.dll";

const Sweep kSweeps[] = {
    {"fresh_install", false, std::nullopt, 2},
    {"upgrade", true, std::nullopt, 2},
    {"upgrade_whose_service_fails_verification", true, kBroken, 3},
    {"upgrade_with_a_placed_file_deleted_before_recovery", true, std::nullopt, 3, true},
    {"failed_upgrade_with_a_placed_file_deleted_before_recovery", true, kBroken, 5, true},
};

struct Scenario {
    InstallMachine m;
    uint64_t start = 0;
    explicit Scenario(const Sweep& s) {
        if (s.upgrade) m.install(kTx1, runtime_v1());
        m.stage(kTx2, runtime_v2(s.service));
        start = m.machine->mutating_calls();
    }
};

using Tree = std::map<std::u16string, std::string>;

// What the service makes under the root gets new ids in every run that
// starts it: compared by kind alone.
Tree comparable(Tree tree) {
    for (auto& [rel, line] : tree)
        if (rel.starts_with(u".holvar-service-v3") || rel.starts_with(u"service-logs"))
            line = line.substr(0, line.find(' '));
    return tree;
}

class RecoverCrashTest : public ::testing::TestWithParam<Sweep> {};

TEST_P(RecoverCrashTest, OneRecoveryEndsInTheOldOrTheNewInstallation) {
    const Sweep& sweep = GetParam();
    Tree old_tree, new_tree;
    uint64_t clean_calls = 0;
    {
        Scenario s(sweep);
        old_tree = comparable(s.m.view().tree);
        int code = s.m.run(kTx2);
        ASSERT_TRUE(code == 0 || code == 10) << code;
        new_tree = comparable(s.m.view().tree);
        clean_calls = s.m.machine->mutating_calls() - s.start;
    }
    std::map<int, int> outcomes;
    for (uint64_t k = 1; k <= clean_calls; k += sweep.stride) {
        SCOPED_TRACE("crash after mutating call " + std::to_string(k));
        Scenario s(sweep);
        s.m.machine->arm_crash_after(k);
        bool crashed = false;
        try {
            s.m.run(kTx2);
        } catch (const sim::CrashInjected&) {
            crashed = true;
        }
        ASSERT_TRUE(crashed);
        // The power comes back: the machine starts again (its automatic
        // services with it), and the setup program runs the recovery.
        s.m.machine->crash();
        s.m.machine->reboot();
        Tree expected_new = new_tree;
        if (sweep.delete_placed && s.m.machine->exists(kRoot + u"\\" + kPlaced)) {
            ASSERT_TRUE(s.m.machine->remove(kRoot + u"\\" + kPlaced));
            expected_new.erase(kPlaced);
        }

        int code = s.m.run(kTx2, u"--recover");
        ++outcomes[code];
        ASSERT_TRUE(code == 0 || code == 10 || code == 15)
            << s.m.report(kTx2, "recover").value_or("no report");
        // A service started by the recovery has had time to come up.
        s.m.machine->advance(std::chrono::seconds(5));
        Tree tree = comparable(s.m.view().tree);
        // Nothing to recover: the journal had ended before the power went.
        const bool is_new = code == 0 || (code == 15 && tree == expected_new && tree != old_tree);
        if (is_new) {
            EXPECT_EQ(tree, expected_new);
            EXPECT_TRUE(s.m.service_running());
        } else {
            EXPECT_EQ(tree, old_tree);
            EXPECT_EQ(s.m.service_running(), sweep.upgrade);
        }
        MachineView settled = s.m.view();
        EXPECT_EQ(s.m.run(kTx2, u"--recover"), 15);
        EXPECT_EQ(s.m.view(), settled);
        // The setup program retries from the same stage: a stage is used
        // once, and the retry is refused without a change.
        EXPECT_EQ(s.m.run(kTx2), 11) << s.m.report(kTx2).value_or("no report");
        EXPECT_EQ(s.m.view(), settled);
    }
    // Both ends were reached, unless the new service can never pass.
    EXPECT_GT(outcomes[10] + outcomes[15], 0);
    if (!sweep.service) {
        EXPECT_GT(outcomes[0], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sweeps, RecoverCrashTest, ::testing::ValuesIn(kSweeps),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::drivers::testing
