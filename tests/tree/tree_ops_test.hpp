// The fixture of the scenario tests: one machine, operations numbered in the
// order given, and short ways to apply, undo and classify them.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/machine.hpp"
#include "tree/tree_machine.hpp"
#include "txn/tree/apply_op.hpp"
#include "txn/tree/op_state.hpp"
#include "txn/tree/retired_index.hpp"
#include "txn/tree/undo_op.hpp"

namespace holvar::txn::tree::testing {

// The operations with seq set to their position, as a journal holds them.
inline std::vector<journal::Op> numbered(std::vector<journal::Op> ops) {
    for (size_t i = 0; i < ops.size(); ++i) ops[i].seq = static_cast<uint32_t>(i);
    return ops;
}

inline bool is_foreign(const platform::Status& s) {
    return !s && s.error().has_text("foreign_identity");
}

class TreeOpsTest : public ::testing::Test {
  protected:
    platform::Os& os() { return m.os(); }
    const TreeLayout& layout() const { return m.layout(); }

    platform::Status apply(const journal::Op& op) { return apply_op(os(), layout(), op); }
    platform::Status undo(const journal::Op& op, const std::vector<journal::Op>& journal_ops) {
        return undo_op(os(), layout(), op, RetiredIndex(journal_ops));
    }
    platform::Status undo(const journal::Op& op) { return undo(op, {op}); }
    OpState state(const journal::Op& op, const std::vector<journal::Op>& journal_ops = {}) {
        auto s = read_op_state(os(), layout(), op, RetiredIndex(journal_ops));
        EXPECT_TRUE(s.has_value());
        return s.value_or(OpState::foreign);
    }
    uint64_t mutations() const { return m.machine().mutating_calls(); }

    // Paths on C: of the stage's folders.
    static std::u16string stage(const std::u16string& rel) {
        return std::u16string(kStage).substr(3) + u"\\" + rel;
    }
    static std::u16string root(const std::u16string& rel) { return u"Holvar\\" + rel; }
    static std::u16string payload(const std::u16string& rel) { return stage(u"payload\\" + rel); }
    static std::u16string slot(const std::u16string& rel) { return stage(u"rollback\\" + rel); }
    static std::u16string trash(const std::u16string& name) { return stage(u"trash\\" + name); }

    TreeMachine m;
};

}  // namespace holvar::txn::tree::testing
