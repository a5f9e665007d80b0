// The journal of one transaction: what was found before it began, every file
// operation it will perform, in order, and how far it got. It reaches disk
// before anything under the root changes and again after every step, so that
// an interrupted run can be finished or undone from it alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "txn/fs/identity_types.hpp"
#include "txn/scm/scm_config.hpp"

namespace holvar::txn::journal {

using fs::FileId;
using fs::RootIdentity;

inline constexpr uint32_t journal_format = 1;
inline constexpr std::string_view engine_version = "3.0.0";

enum class JournalKind : uint8_t { apply, remove };

struct JournalOptions {
    bool purge_session_vault = false;  // only a removal may purge
    friend bool operator==(const JournalOptions&, const JournalOptions&) = default;
};

enum class OpType : uint8_t { replace = 0, add = 1, retire = 2, mkdir = 3 };
enum class LeafKind : uint8_t { file = 0, reparse = 1 };

// One file operation. `type` selects which of the other fields mean something:
//   replace: old_id (installed object), new_id (payload object)
//   add:     new_id
//   retire:  old_id, leaf_kind
//   mkdir:   nothing more
// Fields a variant does not use stay at their defaults, so equality is exact.
// The two small fields sit together ahead of the seq, so a journal of a
// million operations is 8 MB smaller in memory.
struct Op {
    OpType type = OpType::mkdir;
    LeafKind leaf_kind = LeafKind::file;
    uint32_t seq = 0;
    std::u16string rel;  // relative to the root (and to the payload folder)
    FileId old_id;
    FileId new_id;

    static Op replace(std::u16string rel, FileId old_id, FileId new_id);
    static Op add(std::u16string rel, FileId new_id);
    static Op retire(std::u16string rel, FileId old_id, LeafKind kind);
    static Op mkdir(std::u16string rel);

    friend bool operator==(const Op&, const Op&) = default;
};

enum class MarkKind : uint8_t {
    planned = 0,
    root_created = 1,
    fenced = 2,
    placing = 3,
    configured = 4,
    committed = 5,
    finalizing = 6,
    finalized = 7,
    rolling_back = 8,
    rolled_back = 9,
    service_deleted = 10,
    service_delete_pending = 11,
    runtime_retired = 12,
    maintenance_done = 13,
    tree_done = 14,
    registry_done = 15,
    uninstall_key_deleted = 16,
    root_done = 17,
    aborted = 18,
};
inline constexpr size_t mark_kind_count = 19;

// One progress step; root_created carries the new root's file id.
struct Mark {
    MarkKind kind = MarkKind::planned;
    FileId root_id;  // root_created only

    Mark() = default;
    Mark(MarkKind k) : kind(k) {}  // NOLINT: a mark without data reads as its kind
    static Mark root_created(FileId id) {
        Mark m(MarkKind::root_created);
        m.root_id = id;
        return m;
    }
    friend bool operator==(const Mark&, const Mark&) = default;
};

// The name a mark is written with ("root_created" without its id).
std::string_view mark_name(MarkKind kind);
std::optional<MarkKind> mark_from_name(std::string_view name);

struct Journal {
    uint32_t format = journal_format;
    JournalKind kind = JournalKind::apply;
    std::string txid;
    std::string engine_version;
    RootIdentity root;
    RootIdentity stage;
    std::optional<scm::ScmConfig> scm_before;
    bool service_running_before = false;
    std::vector<std::u16string> generated_before;
    JournalOptions options;
    std::vector<Op> ops;
    std::vector<Mark> marks;

    bool has_mark(MarkKind k) const;
    // An install has ended with finalized or rolled_back, a removal with
    // finalized or aborted.
    bool has_ended() const;

    friend bool operator==(const Journal&, const Journal&) = default;
};

enum class JournalProblem : uint8_t { unsupported, corrupt };

// Why a journal is refused: `detail` is a fixed text naming the broken rule.
struct JournalDefect {
    JournalProblem problem = JournalProblem::corrupt;
    std::string_view detail;
    friend bool operator==(const JournalDefect&, const JournalDefect&) = default;
};

// The five rules checked before every write and after every read; the first
// that fails decides. Success is no value.
std::optional<JournalDefect> validate_journal(const Journal& journal);
// The first four of those rules, for the codec, which checks the fifth (each
// operation's seq is its index) in the one pass it makes over the operations.
std::optional<JournalDefect> validate_journal_header(const Journal& journal);
inline constexpr JournalDefect operation_out_of_sequence{JournalProblem::corrupt,
                                                         "operation out of sequence"};

// Exactly 32 characters, each 0-9 or a-f.
bool is_valid_txid(std::string_view txid);

}  // namespace holvar::txn::journal
