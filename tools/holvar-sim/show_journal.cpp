#include <array>
#include <cstdio>

#include "platform/win_path.hpp"
#include "printing.hpp"
#include "show_views.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/journal/journal_store.hpp"
#include "verb_support.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

using txn::journal::Journal;

std::string yes_no(bool value) {
    return value ? "yes" : "no";
}

std::string identity_text(const txn::fs::RootIdentity& identity) {
    char serial[17];
    std::snprintf(serial, sizeof serial, "%016llx",
                  static_cast<unsigned long long>(identity.volume_serial));
    return utf16_to_wtf8(identity.path) + " (volume " + serial + ", id " +
           (identity.file_id ? identity.file_id->to_hex() : std::string("none")) + ")";
}

std::string service_before_text(const Journal& journal) {
    if (!journal.scm_before) return "none";
    const auto& scm = *journal.scm_before;
    return "start " + scm.start_type + ", " +
           (journal.service_running_before ? "running" : "not running") + ", account " +
           utf16_to_wtf8(scm.account) + ", binary path " + utf16_to_wtf8(scm.binary_path);
}

std::string list_text(const std::vector<std::u16string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ", ") + utf16_to_wtf8(item);
    return out.empty() ? "(none)" : out;
}

// "7: replace 2, add 1, retire 2, mkdir 2", types in the order of their codes.
std::string ops_text(const Journal& journal) {
    std::array<size_t, 4> counts{};
    for (const auto& op : journal.ops) ++counts[static_cast<size_t>(op.type)];
    return std::to_string(journal.ops.size()) + ": replace " + std::to_string(counts[0]) +
           ", add " + std::to_string(counts[1]) + ", retire " + std::to_string(counts[2]) +
           ", mkdir " + std::to_string(counts[3]);
}

void print_journal(const Journal& journal) {
    const bool removal = journal.kind == txn::journal::JournalKind::remove;
    print_line("  kind " + std::string(removal ? "remove" : "apply"));
    print_line("  txid " + journal.txid);
    print_line("  engine version " + journal.engine_version);
    print_line("  root " + identity_text(journal.root));
    print_line("  stage " + identity_text(journal.stage));
    print_line("  service before: " + service_before_text(journal));
    print_line("  generated before: " + list_text(journal.generated_before));
    if (removal)
        print_line("  purge session vault: " + yes_no(journal.options.purge_session_vault));
    print_line("  ops " + ops_text(journal));
    print_line("  marks " + std::to_string(journal.marks.size()) + ":");
    for (const auto& mark : journal.marks) {
        std::string line = "    " + std::string(txn::journal::mark_name(mark.kind));
        if (mark.kind == txn::journal::MarkKind::root_created) line += " " + mark.root_id.to_hex();
        print_line(line);
    }
    print_line("  ended: " + yes_no(journal.has_ended()));
}

}  // namespace

ToolResult<int> show_journal(const sim::Machine& machine, const std::u16string& path) {
    const auto info = machine.stat(path);
    if (!info) return machine_refused("cannot read", path, info.error());
    const std::u16string file =
        info->kind == sim::NodeKind::directory ? txn::journal::journal_file(path) : path;
    const auto bytes = machine.read_file(file);
    if (!bytes) return machine_refused("cannot read", file, bytes.error());
    const auto journal = txn::journal::decode_journal(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!journal) {
        const bool unsupported =
            journal.error().problem == txn::journal::JournalProblem::unsupported;
        return refused("journal " + utf16_to_wtf8(file) + " is " +
                       (unsupported ? "of an unsupported format: " : "corrupt: ") +
                       std::string(journal.error().detail));
    }
    print_line("journal " + utf16_to_wtf8(file));
    print_journal(*journal);
    return kExitOk;
}

}  // namespace holvar::simtool
