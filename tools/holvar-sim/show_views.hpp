// The views of `show` beyond the whole machine: a transaction's journal and the
// tree below one folder. Each prints one block to standard output.
#pragma once

#include <string>

#include "platform/sim/machine.hpp"
#include "tool_error.hpp"

namespace holvar::simtool {

// The journal of a stage directory (its journal\txn.json) or of a txn.json
// path: kind, transaction id, root, what was there before, the operations
// counted by type and the marks in order. A journal that is missing or that
// the engine would refuse is refused (exit code 1).
ToolResult<int> show_journal(const sim::Machine& machine, const std::u16string& path);

// Everything below a folder, one line per object, ordered by relative path
// with ASCII case folding: "<kind> <file id> <size> <relative path>", and
// " -> <target>" for a link, which is never entered.
ToolResult<int> show_tree(const sim::Machine& machine, const std::u16string& folder);

}  // namespace holvar::simtool
