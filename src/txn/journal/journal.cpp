#include "txn/journal/journal.hpp"

#include <array>

namespace holvar::txn::journal {

namespace {

constexpr std::array<std::string_view, mark_kind_count> mark_names = {"planned",
                                                                      "root_created",
                                                                      "fenced",
                                                                      "placing",
                                                                      "configured",
                                                                      "committed",
                                                                      "finalizing",
                                                                      "finalized",
                                                                      "rolling_back",
                                                                      "rolled_back",
                                                                      "service_deleted",
                                                                      "service_delete_pending",
                                                                      "runtime_retired",
                                                                      "maintenance_done",
                                                                      "tree_done",
                                                                      "registry_done",
                                                                      "uninstall_key_deleted",
                                                                      "root_done",
                                                                      "aborted"};

}  // namespace

Op Op::replace(std::u16string rel, FileId old_id, FileId new_id) {
    Op op;
    op.type = OpType::replace;
    op.rel = std::move(rel);
    op.old_id = old_id;
    op.new_id = new_id;
    return op;
}

Op Op::add(std::u16string rel, FileId new_id) {
    Op op;
    op.type = OpType::add;
    op.rel = std::move(rel);
    op.new_id = new_id;
    return op;
}

Op Op::retire(std::u16string rel, FileId old_id, LeafKind kind) {
    Op op;
    op.type = OpType::retire;
    op.rel = std::move(rel);
    op.old_id = old_id;
    op.leaf_kind = kind;
    return op;
}

Op Op::mkdir(std::u16string rel) {
    Op op;
    op.type = OpType::mkdir;
    op.rel = std::move(rel);
    return op;
}

std::string_view mark_name(MarkKind kind) {
    return mark_names[static_cast<size_t>(kind)];
}

std::optional<MarkKind> mark_from_name(std::string_view name) {
    for (size_t i = 0; i < mark_names.size(); ++i) {
        if (mark_names[i] == name) return static_cast<MarkKind>(i);
    }
    return std::nullopt;
}

bool Journal::has_mark(MarkKind k) const {
    for (const Mark& m : marks) {
        if (m.kind == k) return true;
    }
    return false;
}

bool Journal::has_ended() const {
    if (has_mark(MarkKind::finalized)) return true;
    return kind == JournalKind::apply ? has_mark(MarkKind::rolled_back)
                                      : has_mark(MarkKind::aborted);
}

bool is_valid_txid(std::string_view txid) {
    if (txid.size() != 32) return false;
    for (char c : txid) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::optional<JournalDefect> validate_journal(const Journal& j) {
    if (auto defect = validate_journal_header(j)) return defect;
    for (size_t i = 0; i < j.ops.size(); ++i) {
        if (j.ops[i].seq != i) return operation_out_of_sequence;
    }
    return std::nullopt;
}

std::optional<JournalDefect> validate_journal_header(const Journal& j) {
    if (j.format != journal_format) {
        return JournalDefect{JournalProblem::unsupported, "unsupported journal format"};
    }
    if (!is_valid_txid(j.txid)) return JournalDefect{JournalProblem::corrupt, "invalid txid"};
    if (!j.stage.file_id) {
        return JournalDefect{JournalProblem::corrupt, "stage without file id"};
    }
    if (j.options.purge_session_vault && j.kind != JournalKind::remove) {
        return JournalDefect{JournalProblem::corrupt, "purge outside a removal"};
    }
    return std::nullopt;
}

}  // namespace holvar::txn::journal
