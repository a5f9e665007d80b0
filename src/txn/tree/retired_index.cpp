#include "txn/tree/retired_index.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/resolve_relative.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree {

namespace p = platform;

namespace {

// The rel as "a\b\c"; none when it is not a valid relative path (such an
// operation fails on its own when it is carried out).
std::optional<std::u16string> canonical_rel(std::u16string_view rel) {
    auto components = fs::split_relative(rel);
    if (!components) return std::nullopt;
    return join_rel(*components);
}

}  // namespace

bool RetiredIndex::FoldLess::operator()(const std::u16string& a, const std::u16string& b) const {
    return p::ascii_icompare(a, b) < 0;
}

RetiredIndex::RetiredIndex(std::span<const journal::Op> ops) {
    for (const journal::Op& op : ops) {
        if (op.type != journal::OpType::retire) continue;
        auto key = canonical_rel(op.rel);
        if (!key) continue;
        by_rel_.emplace(std::move(*key), RetiredObject{leaf_object_kind(op.leaf_kind), op.old_id});
    }
}

std::optional<RetiredObject> RetiredIndex::retired_here(const journal::Op& op) const {
    if (op.type == journal::OpType::retire || by_rel_.empty()) return std::nullopt;
    auto key = canonical_rel(op.rel);
    if (!key) return std::nullopt;
    auto it = by_rel_.find(*key);
    if (it == by_rel_.end()) return std::nullopt;
    return it->second;
}

}  // namespace holvar::txn::tree
