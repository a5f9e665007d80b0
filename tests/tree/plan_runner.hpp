// Running a whole journal's operations the way placement and rollback do,
// reporting the first failure as text so that a run can also be cut short by
// an injected crash (which passes straight through).
#pragma once

#include <string>
#include <vector>

#include "platform/os.hpp"
#include "txn/journal/journal.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree::testing {

// apply_op for every operation in journal order; "" or what failed.
std::string place_all(platform::Os& os, const TreeLayout& layout,
                      const std::vector<journal::Op>& ops);

// The rollback's part: classify every operation in journal order (a foreign
// state fails, a linked one is undone at once), then undo them all in reverse
// journal order; "" or what failed.
std::string roll_back_all(platform::Os& os, const TreeLayout& layout,
                          const std::vector<journal::Op>& ops);

}  // namespace holvar::txn::tree::testing
