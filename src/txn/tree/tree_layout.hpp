// Where the tree operations of one transaction act: the install root and the
// stage directory's bookkeeping folders, and the three paths of an operation.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::txn::tree {

inline constexpr std::u16string_view kPayloadFolder = u"payload";
inline constexpr std::u16string_view kRollbackFolder = u"rollback";
inline constexpr std::u16string_view kTrashFolder = u"trash";
// The runtime's uninstaller in the root, which a removal keeps until a restart.
inline constexpr std::u16string_view kUninstaller = u"uninstall.exe";

struct TreeLayout {
    std::u16string root;      // the install root
    std::u16string stage;     // the stage directory
    std::u16string payload;   // stage\payload: the sources of adds and replaces
    std::u16string rollback;  // stage\rollback: what the transaction displaced
    std::u16string trash;     // stage\trash: what had to leave a path

    static TreeLayout of(std::u16string_view root, std::u16string_view stage);
};

// An operation's relative path split into checked name components, and the
// three places it names: target (root\rel), source (payload\rel) and rollback
// slot (rollback\rel).
struct OpPaths {
    std::vector<std::u16string> components;
    std::u16string target;
    std::u16string source;
    std::u16string slot;
};

// Fails with "empty relative path" or "invalid relative path" for a rel that
// is not made of normal names, before anything is touched.
platform::Result<OpPaths> op_paths(const TreeLayout& layout, const journal::Op& op);

// c1\c2\... : a relative path in the journal's form.
std::u16string join_rel(std::span<const std::u16string> components);

// base\c1\c2\...
std::u16string join_components(std::u16string_view base,
                               std::span<const std::u16string> components);

}  // namespace holvar::txn::tree
