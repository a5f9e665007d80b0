// Deliberately broken behaviours, for the crash explorer's own tests to show
// that the explorer catches each of them. Nothing the shipped engine reads
// (its command line, its files, its environment) can switch one on: only a
// test calls `set_breakage`, and the engine behaves as built otherwise.
#pragma once

#include <cstdint>

namespace holvar::txn::seam {

enum class Breakage : uint8_t {
    none,
    // The journal's new bytes are not flushed before its temporary file is
    // renamed over it.
    journal_rename_without_flush,
    // A removal's "planned" is written once the service has been stopped
    // and deleted, not before the service is touched.
    mark_after_step,
    // The rollback undoes in reverse without first settling the operations a
    // crash left between their two steps.
    rollback_without_classification,
};

// One switch for the whole process; header-only, so that every module that
// reads it links without another library.
inline Breakage current_breakage = Breakage::none;

inline void set_breakage(Breakage b) {
    current_breakage = b;
}

inline bool broken(Breakage b) {
    return current_breakage == b;
}

}  // namespace holvar::txn::seam
