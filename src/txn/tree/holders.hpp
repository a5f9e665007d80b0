// The question "which processes hold this file open", asked of the Restart
// Manager when a tree deletion meets a file that stays locked. The tree
// operations only carry the answer to their caller; the query itself is the
// caller's (the real one lives with the process handling, a fake in tests).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"

namespace holvar::txn::tree {

// One process holding a file: its id and the file name of its image.
struct HolderProcess {
    uint32_t pid = 0;
    std::u16string image;
    friend bool operator==(const HolderProcess&, const HolderProcess&) = default;
};

// The processes holding a file (possibly none), or the Win32 error of the query.
using HolderList = platform::Result<std::vector<HolderProcess>>;
using HolderQuery = std::function<HolderList(std::u16string_view path)>;

// The caller's holder slot: the query to run, and its answer once it ran.
struct HolderSlot {
    HolderQuery query;
    std::optional<HolderList> result;
};

}  // namespace holvar::txn::tree
