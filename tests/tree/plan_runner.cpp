#include "tree/plan_runner.hpp"

#include "tree/tree_machine.hpp"
#include "txn/tree/apply_op.hpp"
#include "txn/tree/retired_index.hpp"
#include "txn/tree/undo_op.hpp"

namespace holvar::txn::tree::testing {

namespace {

std::string failure(const char* step, const journal::Op& op, const platform::Error& e) {
    return std::string(step) + " " + describe(op) + ": " + std::string(e.text) + " " +
           std::to_string(e.win32);
}

}  // namespace

std::string place_all(platform::Os& os, const TreeLayout& layout,
                      const std::vector<journal::Op>& ops) {
    for (const journal::Op& op : ops)
        if (auto done = apply_op(os, layout, op); !done) return failure("apply", op, done.error());
    return "";
}

std::string roll_back_all(platform::Os& os, const TreeLayout& layout,
                          const std::vector<journal::Op>& ops) {
    RetiredIndex retires(ops);
    for (const journal::Op& op : ops) {
        auto state = read_op_state(os, layout, op, retires);
        if (!state) return failure("classify", op, state.error());
        if (*state == OpState::foreign) return "classify " + describe(op) + ": foreign";
        if (*state == OpState::linked) {
            if (auto undone = undo_op(os, layout, op, retires); !undone)
                return failure("undo linked", op, undone.error());
        }
    }
    for (auto it = ops.rbegin(); it != ops.rend(); ++it)
        if (auto undone = undo_op(os, layout, *it, retires); !undone)
            return failure("undo", *it, undone.error());
    return "";
}

}  // namespace holvar::txn::tree::testing
