// The exact list of file operations that turns the installed tree into the
// payload, in the order they must run, and the installed directories the
// payload no longer has.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "txn/journal/journal.hpp"
#include "txn/plan/tree_inventory.hpp"

namespace holvar::txn::plan {

enum class PlanErrorCode : uint8_t {
    conflict = 0,   // kinds that cannot meet, an unsafe or file ancestor, too many operations
    non_ascii = 1,  // a payload path outside ASCII
    reparse = 2,    // a reparse point in the payload
};

struct PlanError {
    PlanErrorCode code = PlanErrorCode::conflict;
    std::u16string path;
    friend bool operator==(const PlanError&, const PlanError&) = default;
};

struct Plan {
    std::vector<journal::Op> ops;  // seq = position
    // Installed directories that the payload lacks and no generated item covers.
    std::vector<std::u16string> stale_directories;
};

// The operations come in five groups, each in key order:
//   A  retire the reparse points that sit where the payload puts something,
//   B  the uninstaller ("uninstall.exe" at the top), so it is in place first,
//   C  the new directories, shallow before deep,
//   D  every other add and replace,
//   E  retire the installed files and links the payload no longer has.
// Entries covered by `generated` are never touched.
std::expected<Plan, PlanError> compute_plan(const TreeInventory& payload,
                                            const TreeInventory& installed,
                                            const std::vector<std::u16string>& generated);

}  // namespace holvar::txn::plan
