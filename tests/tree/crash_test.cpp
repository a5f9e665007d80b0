// The crash explorer: a placement cut short at every mutating call, with every
// metadata cut the crash model allows, is rolled back from the crash image to
// the installed tree exactly, losing no file; and a rollback cut short at
// every one of its own mutating calls is finished by a second one.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "platform/sim/machine_state.hpp"
#include "tree/plan_runner.hpp"
#include "tree/random_plans.hpp"

namespace holvar::txn::tree::testing {
namespace {

using journal::LeafKind;
using journal::Op;
using journal::OpType;

bool has(const std::vector<Op>& ops, OpType type) {
    for (const Op& op : ops)
        if (op.type == type) return true;
    return false;
}
bool has_link_retire(const std::vector<Op>& ops) {
    for (const Op& op : ops)
        if (op.type == OpType::retire && op.leaf_kind == LeafKind::reparse) return true;
    return false;
}

// Small plans (so that every crash point can be walked) that between them
// hold every kind of operation: a junction replaced by a folder, replaces
// with retires, adds into new folders.
std::vector<uint64_t> explored_seeds() {
    std::vector<std::function<bool(const std::vector<Op>&)>> wanted = {
        [](const auto& ops) { return has_link_retire(ops) && has(ops, OpType::mkdir); },
        [](const auto& ops) { return has(ops, OpType::replace) && has(ops, OpType::retire); },
        [](const auto& ops) {
            return has(ops, OpType::add) && has(ops, OpType::mkdir) && has(ops, OpType::replace);
        },
        [](const auto& ops) { return has(ops, OpType::replace) && has_link_retire(ops); },
    };
    std::vector<uint64_t> seeds;
    for (uint64_t seed = 1000; seed < 3000 && !wanted.empty(); ++seed) {
        TreeMachine m;
        build_random_trees(m, seed);
        RandomPlan plan = plan_of(m);
        if (!plan.ok || plan.ops.size() < 5 || plan.ops.size() > 10) continue;
        for (auto it = wanted.begin(); it != wanted.end(); ++it) {
            if (!(*it)(plan.ops)) continue;
            seeds.push_back(seed);
            wanted.erase(it);
            break;
        }
    }
    return seeds;
}

// One machine of a scenario with what it held before the transaction.
struct Scenario {
    explicit Scenario(uint64_t seed) {
        build_random_trees(m, seed);
        RandomPlan plan = plan_of(m);
        ops = std::move(plan.ops);
        installed = m.snapshot(kRoot);
        elsewhere = m.snapshot(uR"(C:\Elsewhere)");
        ids = ids_before(m);
    }

    // Runs `work` with a crash armed after `n` mutating calls; true when it fired.
    bool crash_after(uint64_t n, const std::function<std::string()>& work) {
        m.machine().arm_crash_after(n);
        try {
            last = work();
        } catch (const sim::CrashInjected&) {
            return true;
        }
        m.machine().arm_crash_after(0);
        return false;
    }
    bool place_crashing_after(uint64_t n) {
        return crash_after(n, [this] { return place_all(m.os(), m.layout(), ops); });
    }
    bool roll_back_crashing_after(uint64_t n) {
        return crash_after(n, [this] { return roll_back_all(m.os(), m.layout(), ops); });
    }
    // The power cut: what survives, and a new engine process on the image.
    void cut(std::optional<size_t> metadata_kept) {
        m.machine().crash(sim::CrashCut{metadata_kept, std::nullopt});
        m.restart_engine();
    }
    size_t metadata_since_barrier() { return m.machine().state().log.size(); }
    uint64_t mutations() const { return m.machine().mutating_calls(); }

    // "" when the machine holds the installed tree again and every file.
    std::string restored() {
        if (m.snapshot(kRoot) != installed) return "the installed tree differs";
        if (m.snapshot(uR"(C:\Elsewhere)") != elsewhere) return "a junction's target changed";
        auto lost = lost_ids(m, ids);
        if (!lost.empty()) return "lost file " + lost.front();
        return "";
    }

    TreeMachine m;
    std::vector<Op> ops;
    Snapshot installed, elsewhere;
    std::map<fs::FileId, int> ids;
    std::string last;
};

uint64_t placement_mutations(uint64_t seed) {
    Scenario run(seed);
    uint64_t before = run.mutations();
    EXPECT_EQ(place_all(run.m.os(), run.m.layout(), run.ops), "");
    return run.mutations() - before;
}

class CrashExplorer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { seeds_ = explored_seeds(); }
    static std::vector<uint64_t> seeds_;

    // At most a few failures reported in full; the rest counted.
    void failed(const std::string& where, const std::string& what) {
        if (++failures_ <= 5) ADD_FAILURE() << where << ": " << what;
    }
    int failures_ = 0;
};
std::vector<uint64_t> CrashExplorer::seeds_;

TEST_F(CrashExplorer, EveryCrashDuringPlacementRollsBackToTheInstalledTree) {
    ASSERT_EQ(seeds_.size(), 4u);
    size_t explored = 0;
    for (uint64_t seed : seeds_) {
        uint64_t total = placement_mutations(seed);
        for (uint64_t k = 1; k <= total; ++k) {
            // Every prefix of the metadata written since the last barrier.
            size_t written = 0;
            for (size_t kept = 0; kept <= written; ++kept) {
                Scenario run(seed);
                if (!run.place_crashing_after(k)) {
                    failed("seed " + std::to_string(seed), "no crash at " + std::to_string(k));
                    break;
                }
                written = run.metadata_since_barrier();
                run.cut(kept);
                std::string where = "seed " + std::to_string(seed) + " crash after " +
                                    std::to_string(k) + " keeping " + std::to_string(kept);
                ++explored;
                if (auto back = roll_back_all(run.m.os(), run.m.layout(), run.ops); !back.empty()) {
                    failed(where, back);
                    continue;
                }
                if (auto check = run.restored(); !check.empty()) failed(where, check);
            }
        }
    }
    std::cout << "placement crash images explored: " << explored << "\n";
    RecordProperty("placement_crash_images", static_cast<int>(explored));
    EXPECT_GT(explored, 100u);
}

TEST_F(CrashExplorer, ARollbackCutShortAnywhereIsFinishedByASecondOne) {
    ASSERT_EQ(seeds_.size(), 4u);
    size_t explored = 0;
    for (uint64_t seed : seeds_) {
        uint64_t total = placement_mutations(seed);
        // k = total + 1: the placement completed, as when verification fails.
        for (uint64_t k = 1; k <= total + 1; ++k) {
            uint64_t undo_total = 0;
            {
                Scenario run(seed);
                if (run.place_crashing_after(k)) run.cut(std::nullopt);
                uint64_t before = run.mutations();
                EXPECT_EQ(roll_back_all(run.m.os(), run.m.layout(), run.ops), "");
                undo_total = run.mutations() - before;
            }
            for (uint64_t j = 1; j <= undo_total; ++j) {
                Scenario run(seed);
                if (run.place_crashing_after(k)) run.cut(std::nullopt);
                std::string where = "seed " + std::to_string(seed) + " placement crash " +
                                    std::to_string(k) + " rollback crash " + std::to_string(j);
                if (!run.roll_back_crashing_after(j)) {
                    failed(where, "no crash");
                    continue;
                }
                run.cut(std::nullopt);
                ++explored;
                if (auto back = roll_back_all(run.m.os(), run.m.layout(), run.ops); !back.empty()) {
                    failed(where, back);
                    continue;
                }
                if (auto check = run.restored(); !check.empty()) failed(where, check);
            }
        }
    }
    std::cout << "rollback crash images explored: " << explored << "\n";
    RecordProperty("rollback_crash_images", static_cast<int>(explored));
    EXPECT_GT(explored, 100u);
}

}  // namespace
}  // namespace holvar::txn::tree::testing
