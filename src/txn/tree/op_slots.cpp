#include "txn/tree/op_slots.hpp"

#include "txn/fs/resolve_relative.hpp"

namespace holvar::txn::tree {

namespace p = platform;

p::Result<fs::ObjectProbe> read_target(p::Os& os, const TreeLayout& layout, const journal::Op& op,
                                       fs::PinnedFolders* pins) {
    return fs::resolve_relative(os, layout.root, op.rel, pins);
}

p::Result<fs::ObjectProbe> read_slot(p::Os& os, const TreeLayout& layout, const journal::Op& op,
                                     fs::PinnedFolders* pins) {
    return fs::resolve_relative(os, layout.rollback, op.rel, pins);
}

p::Result<OpSlots> read_op_slots(p::Os& os, const TreeLayout& layout, const journal::Op& op,
                                 fs::PinnedFolders* pins) {
    OpSlots slots;
    auto target = read_target(os, layout, op, pins);
    if (!target) return std::unexpected(target.error());
    slots.target = *target;
    if (op.type == journal::OpType::replace || op.type == journal::OpType::retire) {
        auto slot = read_slot(os, layout, op, pins);
        if (!slot) return std::unexpected(slot.error());
        slots.slot = *slot;
    }
    return slots;
}

}  // namespace holvar::txn::tree
