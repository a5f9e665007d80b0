// The inventory of a tree: every object below a base directory by its relative
// path, ordered and compared with ASCII case folding only, as the file system
// compares the names the engine plans with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/win_path.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::plan {

enum class EntryKind : uint8_t { file = 0, directory = 1, reparse = 2 };

struct TreeEntry {
    EntryKind kind = EntryKind::file;
    fs::FileId file_id;
    friend bool operator==(const TreeEntry&, const TreeEntry&) = default;
};

// Relative paths ("a\b\c") that differ only in ASCII letter case are one key.
struct AsciiFoldLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const {
        return platform::ascii_icompare(a, b) < 0;
    }
};

using TreeInventory = std::map<std::u16string, TreeEntry, AsciiFoldLess>;

}  // namespace holvar::txn::plan
