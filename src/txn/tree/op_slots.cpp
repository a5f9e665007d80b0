#include "txn/tree/op_slots.hpp"

#include "txn/fs/resolve_relative.hpp"

namespace holvar::txn::tree {

namespace p = platform;

p::Result<fs::ObjectProbe> read_target(p::Os& os, const TreeLayout& layout, const journal::Op& op) {
    return fs::resolve_relative(os, layout.root, op.rel);
}

p::Result<fs::ObjectProbe> read_slot(p::Os& os, const TreeLayout& layout, const journal::Op& op) {
    return fs::resolve_relative(os, layout.rollback, op.rel);
}

p::Result<OpSlots> read_op_slots(p::Os& os, const TreeLayout& layout, const journal::Op& op) {
    OpSlots slots;
    auto target = read_target(os, layout, op);
    if (!target) return std::unexpected(target.error());
    slots.target = *target;
    if (op.type == journal::OpType::replace || op.type == journal::OpType::retire) {
        auto slot = read_slot(os, layout, op);
        if (!slot) return std::unexpected(slot.error());
        slots.slot = *slot;
    }
    return slots;
}

}  // namespace holvar::txn::tree
