// What state one operation is in, told from what is found at its target and
// in its rollback slot; the rollback and the recovery decide from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "txn/fs/identity_types.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::txn::tree {

enum class OpState : uint8_t {
    replaced = 0,   // a replace is complete: T is the new file, R the old one
    linked = 1,     // a replace is half done: T is still the old file, R a second name of it
    untouched = 2,  // nothing of the operation has happened (or nothing is left to undo)
    retired = 3,    // the old object is only in R
    added = 4,      // an add is complete: T is the new file
    created = 5,    // a mkdir is complete: T is a directory
    foreign = 10,   // what is found fits no state of the operation
};

std::string_view op_state_name(OpState state);

// The object a retire of the same journal takes away from the same path.
struct RetiredObject {
    fs::ObjectKind kind = fs::ObjectKind::file;
    fs::FileId id;
    friend bool operator==(const RetiredObject&, const RetiredObject&) = default;
};

// The object kind a retire's leaf kind stands for.
fs::ObjectKind leaf_object_kind(journal::LeafKind kind);

// T and R are the probes of the target and the rollback slot. `retired_here`
// is the object a retire of the same journal takes from the same path: while
// that object is still at T, an add or mkdir there has not run either.
OpState classify_op(const journal::Op& op, const fs::ObjectProbe& target,
                    const fs::ObjectProbe& slot, const std::optional<RetiredObject>& retired_here);

// The placement check of a committed install: the operation's result is in
// place (replace and add: T is the new file; retire: R is the old object;
// mkdir: T is a directory).
bool op_is_placed(const journal::Op& op, const fs::ObjectProbe& target,
                  const fs::ObjectProbe& slot);

}  // namespace holvar::txn::tree
