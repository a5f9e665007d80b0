// Inventories written as short lists, and plans printed one operation a line,
// so expected plans read like the plan itself.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "txn/plan/compute_plan.hpp"

namespace holvar::txn::plan::testing {

struct Item {
    std::u16string path;
    EntryKind kind;
    uint64_t id = 0;
};

inline Item file(std::u16string p, uint64_t id) {
    return {std::move(p), EntryKind::file, id};
}
inline Item dir(std::u16string p, uint64_t id = 0) {
    return {std::move(p), EntryKind::directory, id};
}
inline Item link(std::u16string p, uint64_t id) {
    return {std::move(p), EntryKind::reparse, id};
}

inline TreeInventory inventory(std::initializer_list<Item> items) {
    TreeInventory inv;
    for (const Item& i : items) inv.emplace(i.path, TreeEntry{i.kind, fs::FileId{0, i.id}});
    return inv;
}

inline std::string narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// "add uninstall.exe +7", "replace a\b 3>9", "retire reparse data -4", "mkdir lib".
inline std::string describe(const journal::Op& op) {
    using journal::OpType;
    std::string rel = narrow(op.rel);
    switch (op.type) {
        case OpType::add:
            return "add " + rel + " +" + std::to_string(op.new_id.low);
        case OpType::replace:
            return "replace " + rel + " " + std::to_string(op.old_id.low) + ">" +
                   std::to_string(op.new_id.low);
        case OpType::retire:
            return std::string("retire ") +
                   (op.leaf_kind == journal::LeafKind::file ? "file " : "reparse ") + rel + " -" +
                   std::to_string(op.old_id.low);
        case OpType::mkdir:
            return "mkdir " + rel;
    }
    return "?";
}

inline std::vector<std::string> describe(const Plan& plan) {
    std::vector<std::string> out;
    for (const auto& op : plan.ops) out.push_back(describe(op));
    return out;
}

}  // namespace holvar::txn::plan::testing
