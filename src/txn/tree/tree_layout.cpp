#include "txn/tree/tree_layout.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/resolve_relative.hpp"

namespace holvar::txn::tree {

namespace p = platform;

TreeLayout TreeLayout::of(std::u16string_view root, std::u16string_view stage) {
    TreeLayout layout;
    layout.root = std::u16string(root);
    layout.stage = std::u16string(stage);
    layout.payload = p::join_path(stage, kPayloadFolder);
    layout.rollback = p::join_path(stage, kRollbackFolder);
    layout.trash = p::join_path(stage, kTrashFolder);
    return layout;
}

std::u16string join_rel(std::span<const std::u16string> components) {
    std::u16string out;
    for (const std::u16string& c : components) {
        if (!out.empty()) out.push_back(u'\\');
        out += c;
    }
    return out;
}

std::u16string join_components(std::u16string_view base,
                               std::span<const std::u16string> components) {
    std::u16string path(base);
    for (const std::u16string& c : components) path = p::join_path(path, c);
    return path;
}

p::Result<OpPaths> op_paths(const TreeLayout& layout, const journal::Op& op) {
    auto components = fs::split_relative(op.rel);
    if (!components) return std::unexpected(components.error());
    OpPaths paths;
    paths.components = std::move(*components);
    paths.target = join_components(layout.root, paths.components);
    paths.source = join_components(layout.payload, paths.components);
    paths.slot = join_components(layout.rollback, paths.components);
    return paths;
}

}  // namespace holvar::txn::tree
