// Random plans from the planner over random installed and payload trees:
// placement puts every payload object in place, repeating it changes nothing,
// and undoing everything in reverse brings back the installed tree exactly
// (same file ids at the same paths, same contents) without losing any file.
#include <gtest/gtest.h>

#include "tree/plan_runner.hpp"
#include "tree/random_plans.hpp"
#include "txn/tree/op_slots.hpp"
#include "txn/tree/op_state.hpp"

namespace holvar::txn::tree::testing {
namespace {

constexpr uint64_t kPlans = 100;

TEST(PlanProperty, PlaceTwiceUndoTwiceGivesBackTheInstalledTree) {
    size_t planned = 0, operations = 0;
    for (uint64_t seed = 0; seed < kPlans; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TreeMachine m;
        build_random_trees(m, seed);
        RandomPlan plan = plan_of(m);
        if (!plan.ok) continue;
        ++planned;
        operations += plan.ops.size();
        Snapshot installed = m.snapshot(kRoot);
        Snapshot elsewhere = m.snapshot(uR"(C:\Elsewhere)");
        auto ids = ids_before(m);

        ASSERT_EQ(place_all(m.os(), m.layout(), plan.ops), "");
        for (const journal::Op& op : plan.ops) {
            auto slots = read_op_slots(m.os(), m.layout(), op);
            ASSERT_TRUE(slots.has_value());
            EXPECT_TRUE(op_is_placed(op, slots->target, slots->slot)) << describe(op);
        }
        Snapshot placed = m.snapshot(kRoot);
        uint64_t before = m.machine().mutating_calls();
        ASSERT_EQ(place_all(m.os(), m.layout(), plan.ops), "");
        EXPECT_EQ(m.machine().mutating_calls(), before) << "a second placement changed something";
        EXPECT_EQ(m.snapshot(kRoot), placed);

        ASSERT_EQ(roll_back_all(m.os(), m.layout(), plan.ops), "");
        EXPECT_EQ(m.snapshot(kRoot), installed);
        EXPECT_EQ(lost_ids(m, ids), std::vector<std::string>{});
        before = m.machine().mutating_calls();
        ASSERT_EQ(roll_back_all(m.os(), m.layout(), plan.ops), "");
        EXPECT_EQ(m.machine().mutating_calls(), before) << "a second undo changed something";
        EXPECT_EQ(m.snapshot(kRoot), installed);
        EXPECT_EQ(m.snapshot(uR"(C:\Elsewhere)"), elsewhere);
    }
    // The generator must give the planner something to work with.
    EXPECT_GT(planned, kPlans / 2);
    EXPECT_GT(operations, planned * 4);
    RecordProperty("plans", static_cast<int>(planned));
    RecordProperty("operations", static_cast<int>(operations));
}

}  // namespace
}  // namespace holvar::txn::tree::testing
