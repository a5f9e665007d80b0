// The per-run context: where the run acts (root, stage directory, diagnostics
// directory), which transaction it is (txid), and the slots the driver fills
// while it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "installer/outcome.hpp"
#include "platform/os.hpp"

namespace holvar::txn::journal {
struct Journal;
}

namespace holvar::installer {

inline constexpr std::u16string_view diagnostics_dir_name = u"Holvar-Install-Diagnostics";
inline constexpr std::u16string_view stage_name_prefix = u".Holvar-upgrade-";

struct TransactionContext {
    std::u16string root;             // absolute, lexically (no link resolved)
    std::u16string stage_dir;        // absolute: the directory of the running executable
    std::u16string diagnostics_dir;  // parent of the root + "Holvar-Install-Diagnostics"
    std::string txid;                // 32 lowercase hexadecimal digits from the stage name

    // Driver slots, empty at creation and filled during the run.
    std::shared_ptr<txn::journal::Journal> journal;  // the in-memory journal
    HolderReport holders;                            // feeds the report's holders section
    std::vector<std::u16string> stale_directories;   // left by planning
    std::optional<Fault> deferred_finalize_fault;
    uint64_t payload_bytes = 0;
};

// Builds the context from a root and a stage directory, opening nothing:
// errors "empty root", "empty stage directory", "root has no parent",
// "invalid stage name", or the error of making a path absolute.
platform::Result<TransactionContext> build_context(platform::Os& os, const std::u16string& root,
                                                   const std::u16string& stage_dir);

// The stage directory sits beside the root (same parent, compared component by
// component, byte-exact) and a context can be built from the two.
bool check_engine_placement(platform::Os& os, const std::u16string& root,
                            const std::u16string& stage_dir);

// Exactly 32 characters, each 0-9 or a-f.
bool is_txid(std::u16string_view text);
bool is_txid(std::string_view text);

}  // namespace holvar::installer
