// Deliberately broken behaviours, for the tests that show that the crash
// explorer and the attack scenarios catch each of them. They exist only in
// builds with HOLVAR_TEST_SEAMS, which the native test builds define and the
// shipped holvar-service-install.exe never does: there every `broken` is a
// constant false and the branches it guards are compiled away. Even where
// they exist, nothing the engine reads (its command line, its files, its
// environment) switches one on: only a test calls `set_breakage`.
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
    // An object is trusted by its owner alone, whatever its DACL grants.
    trust_by_owner_only,
    // A deletion at the next restart is scheduled without looking at the
    // folders on the way, one of which may become a link before then.
    schedule_through_any_folder,
    // A stage a run has planned from before is planned from again.
    plan_from_used_stage,
    // A rollback decides from the disk alone whether the new runtime was
    // placed, not from the journal's "placing" mark.
    placement_from_disk,
    // A service an administrator disabled while it ran is put back by
    // writing "disabled" and then starting it, which Windows refuses.
    restore_disabled_as_written,
};

#if defined(HOLVAR_TEST_SEAMS)

// One switch for the whole process; header-only, so that every module that
// reads it links without another library.
inline Breakage current_breakage = Breakage::none;

inline void set_breakage(Breakage b) {
    current_breakage = b;
}

inline bool broken(Breakage b) {
    return current_breakage == b;
}

#else

constexpr bool broken(Breakage) {
    return false;
}

#endif

}  // namespace holvar::txn::seam
