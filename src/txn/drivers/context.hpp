// The per-run context: where the run acts (root, stage directory, diagnostics
// directory), which transaction it is (txid), and the slots the driver fills
// while it runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "txn/journal/journal.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

inline constexpr std::u16string_view diagnostics_dir_name = u"Holvar-Install-Diagnostics";
inline constexpr std::u16string_view stage_name_prefix = u".Holvar-upgrade-";

struct TransactionContext {
    std::u16string root;             // absolute, lexically (no link resolved)
    std::u16string stage_dir;        // absolute: the directory of the running executable
    std::u16string diagnostics_dir;  // parent of the root + "Holvar-Install-Diagnostics"
    std::string txid;                // 32 lowercase hexadecimal digits from the stage name

    // Driver slots, empty at creation and filled during the run.
    std::optional<journal::Journal> journal;  // the in-memory journal
    outcome::HolderReport holders;            // feeds the report's holders section
    // The directories planning found stale; none when this run did not plan
    // (a finalize started by recovery computes them afresh).
    std::optional<std::vector<std::u16string>> stale_directories;
    std::optional<outcome::Fault> deferred_finalize_fault;
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

// The txid of a stage directory's final name: ".Holvar-upgrade-" followed by
// 32 characters 0-9 or a-f. Being pure ASCII, a well-formed name is valid
// Unicode of exactly 48 bytes.
std::optional<std::string> txid_from_stage_name(std::u16string_view name);

// Exactly 32 characters, each 0-9 or a-f.
bool is_txid(std::u16string_view text);
bool is_txid(std::string_view text);

}  // namespace holvar::txn::drivers
