// A simulated machine with an install root, a stage directory beside it and
// the engine running as an elevated administrator; snapshots of the trees it
// holds; and the helpers the tree-operation tests share.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/journal/journal.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree::testing {

inline constexpr const char16_t* kRoot = uR"(C:\Holvar)";
inline constexpr const char16_t* kStage = uR"(C:\.Holvar-upgrade-0123456789abcdef0123456789abcdef)";

inline platform::Sid admins() {
    return *platform::sid_from_string(platform::sids::administrators);
}

inline std::string narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}
inline std::u16string widen(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

// One object of a snapshot.
struct Seen {
    sim::NodeKind kind = sim::NodeKind::file;
    fs::FileId id;
    std::string contents;
    std::u16string reparse_target;
    friend bool operator==(const Seen&, const Seen&) = default;
};
// Every object below a directory by lower-cased relative path (names compare
// without case, as on NTFS); links are recorded, never entered.
using Snapshot = std::map<std::string, Seen>;

class TreeMachine {
  public:
    TreeMachine();

    platform::Os& os() { return process_->os(); }
    sim::Machine& machine() { return *machine_; }
    const sim::Machine& machine() const { return *machine_; }
    const TreeLayout& layout() const { return layout_; }
    uint32_t engine_pid() const { return pid_; }

    // The engine process ended (after a crash image was taken): start another.
    void restart_engine();

    // Set-up outside the engine. Paths are relative to C:\ ("Holvar\a.txt").
    void dir(const std::u16string& path);
    void file(const std::u16string& path, const std::string& text);
    void junction(const std::u16string& path, const std::u16string& target);
    void remove(const std::u16string& path);
    fs::FileId id_of(const std::u16string& path) const;
    bool exists(const std::u16string& path) const;
    std::string read(const std::u16string& path) const;

    // A second process of the machine (another program holding files).
    std::unique_ptr<sim::ProcessOs> other_process();

    // PendingFileRenameOperations as (source, target) pairs, "\\??\\" prefixes kept.
    std::vector<std::pair<std::u16string, std::u16string>> pending_renames() const;

    Snapshot snapshot(const std::u16string& base) const;
    // Every file and link id anywhere below the given folders, with how often it occurs.
    std::map<fs::FileId, int> ids_under(const std::vector<std::u16string>& bases) const;

  private:
    std::unique_ptr<sim::Machine> machine_;
    uint32_t pid_ = 0;
    std::unique_ptr<sim::ProcessOs> process_;
    TreeLayout layout_;
};

// "C:\" + path
std::u16string on_c(const std::u16string& path);

// Printing an operation: "replace a\b", "mkdir lib", ...
std::string describe(const journal::Op& op);

}  // namespace holvar::txn::tree::testing
