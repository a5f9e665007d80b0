// The retires of one journal by path, so that the undo of an add or mkdir can
// tell whether the object at its target is one a retire on the same path is
// still to take away.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "txn/journal/journal.hpp"
#include "txn/tree/op_state.hpp"

namespace holvar::txn::tree {

class RetiredIndex {
  public:
    RetiredIndex() = default;
    explicit RetiredIndex(std::span<const journal::Op> ops);

    // The retire of the same path (ASCII case folded, separators normalised)
    // as `op`, if the journal has one; none for a retire itself.
    std::optional<RetiredObject> retired_here(const journal::Op& op) const;

  private:
    struct FoldLess {
        bool operator()(const std::u16string& a, const std::u16string& b) const;
    };
    std::map<std::u16string, RetiredObject, FoldLess> by_rel_;
};

}  // namespace holvar::txn::tree
