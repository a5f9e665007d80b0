// Random installed and payload trees on a machine, and their plan from the
// planner: the material of the property and crash tests. The same seed always
// builds the same machine, file ids included.
#pragma once

#include <cstdint>
#include <vector>

#include "tree/tree_machine.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::txn::tree::testing {

// Builds both trees (and C:\Elsewhere, the target of every junction) on a
// fresh machine.
void build_random_trees(TreeMachine& m, uint64_t seed);

// The planner's operations for the machine's payload over its root; empty
// with `ok` false when the planner refuses the trees.
struct RandomPlan {
    bool ok = false;
    std::vector<journal::Op> ops;
};
RandomPlan plan_of(TreeMachine& m);

// Which objects the placement must keep: every file and link id found below
// the root and the payload, with how often it occurs.
std::map<fs::FileId, int> ids_before(const TreeMachine& m);
// The same ids, looked for below the root, the payload, the rollback folder
// and the trash: none may be missing.
std::vector<std::string> lost_ids(const TreeMachine& m, const std::map<fs::FileId, int>& before);

}  // namespace holvar::txn::tree::testing
