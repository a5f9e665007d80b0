// `explain`: a journal (txn.json) or an outcome report in plain words, for the
// support engineer in front of a broken machine. The journal is read by the
// engine's own decoder and what `--recover` would do is asked of the engine's
// own decision table, so the explanation cannot drift from the engine.
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "machine_file.hpp"
#include "platform/error.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/win_path.hpp"
#include "printing.hpp"
#include "txn/drivers/recover.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/outcome/outcome.hpp"
#include "txn/scm/scm.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

namespace journal = txn::journal;
using txn::drivers::RecoveryDecision;
using txn::drivers::RootState;

// What a mark says the run had done when it was written.
std::string_view mark_story(journal::MarkKind kind) {
    using M = journal::MarkKind;
    switch (kind) {
        case M::planned:
            return "planned every file operation";
        case M::root_created:
            return "created the install root";
        case M::fenced:
            return "fenced the old service (stopped it and took its files out of use)";
        case M::placing:
            return "began moving files into place by handle";
        case M::configured:
            return "configured the service";
        case M::committed:
            return "committed the new installation";
        case M::finalizing:
            return "began finalizing (cleaning up what the commit left behind)";
        case M::finalized:
            return "finished";
        case M::rolling_back:
            return "began rolling back";
        case M::rolled_back:
            return "rolled everything back to the old installation";
        case M::service_deleted:
            return "deleted the service";
        case M::service_delete_pending:
            return "asked for the service's deletion, which waits for it to close";
        case M::runtime_retired:
            return "retired the runtime's files";
        case M::maintenance_done:
            return "ran the maintenance commands";
        case M::tree_done:
            return "removed the installed tree";
        case M::registry_done:
            return "removed the registry entries";
        case M::uninstall_key_deleted:
            return "deleted the uninstall key";
        case M::root_done:
            return "removed the install root";
        case M::aborted:
            return "abandoned the removal, leaving the installation in place";
    }
    return "reached an unknown mark";
}

// A decision's name, what recovery does on it, and why the table chose it,
// in the order of the enumeration.
struct DecisionText {
    std::string_view name;
    std::string_view story;
};
constexpr std::array<DecisionText, 8> kDecisionTexts{{
    {"ended", "the transaction has already ended: nothing is changed, the journal is closed"},
    {"root_lost",
     "the root is not the folder this transaction recorded (gone or replaced): nothing under it "
     "is touched, the report names root_mismatch"},
    {"remove_empty_root",
     "the install never recorded a root and the root is an empty folder: the folder is removed"},
    {"resume_finalize", "the commit was made and finalizing had begun: finalizing is finished"},
    {"confirm_and_finalize",
     "the commit was made: the new service is verified again and the install finalized; a "
     "failed verification rolls back"},
    {"roll_back",
     "the commit was not reached, or a rollback had begun: every moved object goes back and the "
     "old service is restored"},
    {"abort_removal",
     "the service is still installed and its deletion never began: the removal is abandoned and "
     "the installation stays"},
    {"resume_removal", "the service is gone or its deletion was recorded: the removal is finished"},
}};
static_assert(static_cast<size_t>(RecoveryDecision::resume_removal) + 1 == kDecisionTexts.size());

std::string_view root_state_name(RootState root) {
    switch (root) {
        case RootState::matches:
            return "the folder this transaction recorded";
        case RootState::foreign:
            return "another object than the one recorded";
        case RootState::empty:
            return "an empty folder";
        case RootState::not_empty:
            return "a folder with entries";
        case RootState::absent:
            return "absent";
    }
    return "unknown";
}

std::string service_text(bool present) {
    return present ? "installed" : "absent";
}

std::optional<journal::FileId> recorded_root_id(const journal::Journal& j) {
    std::optional<journal::FileId> recorded = j.root.file_id;
    for (const auto& mark : j.marks)
        if (mark.kind == journal::MarkKind::root_created) recorded = mark.root_id;
    return recorded;
}

// The machine's answers to the two questions recovery asks, as recovery
// itself reads them: a service marked for deletion counts as absent.
bool machine_service_present(const sim::Machine& machine) {
    for (const auto& [folded, service] : machine.state().scm.services)
        if (platform::paths_equal(service.name, std::u16string(txn::scm::kServiceName)))
            return !service.marked_for_delete;
    return false;
}

RootState machine_root_state(const sim::Machine& machine, const journal::Journal& j) {
    const auto info = machine.stat(j.root.path);
    if (!info) return RootState::absent;
    if (info->kind != sim::NodeKind::directory) return RootState::foreign;
    if (const auto recorded = recorded_root_id(j))
        return journal::FileId::from_bytes(info->file_id) == *recorded ? RootState::matches
                                                                       : RootState::foreign;
    const auto entries = machine.list(j.root.path);
    return entries && entries->empty() ? RootState::empty : RootState::not_empty;
}

void print_decision(std::string_view lead, RecoveryDecision decision) {
    const DecisionText& text = kDecisionTexts[static_cast<size_t>(decision)];
    print_line(std::string(lead) + std::string(text.name) + ": " + std::string(text.story));
}

void explain_journal(const journal::Journal& j, const sim::Machine* machine) {
    const bool removal = j.kind == journal::JournalKind::remove;
    print_line(std::string("a journal of ") +
               (removal ? "a removal (--remove)" : "an install or upgrade (--apply)") + ", txid " +
               j.txid);
    print_line("root " + utf16_to_wtf8(j.root.path) + ", " + std::to_string(j.ops.size()) +
               " file operation(s) planned");
    std::string marks;
    for (const auto& mark : j.marks)
        marks += (marks.empty() ? "" : " ") + std::string(journal::mark_name(mark.kind));
    print_line("marks reached: " + (marks.empty() ? std::string("none") : marks));
    if (j.marks.empty()) {
        print_line("the last run: stopped before its first mark");
    } else {
        print_line("the last run: " + std::string(mark_story(j.marks.back().kind)) +
                   (j.has_ended() ? "; the transaction has ended"
                                  : ", then stopped (a crash or a power cut)"));
    }

    if (machine) {
        const bool service = machine_service_present(*machine);
        const RootState root = machine_root_state(*machine, j);
        print_line("on this machine the service is " + service_text(service) + " and the root is " +
                   std::string(root_state_name(root)));
        print_decision("--recover would decide ", txn::drivers::decide_recovery(j, service, root));
        return;
    }
    // On the host the machine cannot be asked: assume the usual case, and
    // name what would change the answer.
    const RootState assumed_root = recorded_root_id(j) ? RootState::matches : RootState::empty;
    const RecoveryDecision assumed = txn::drivers::decide_recovery(j, true, assumed_root);
    print_line("assuming the service is installed and the root is " +
               std::string(root_state_name(assumed_root)) + " (give --machine to ask a machine):");
    print_decision("--recover would decide ", assumed);
    struct Variant {
        std::string_view when;
        bool service;
        RootState root;
    };
    const std::array<Variant, 3> variants{{
        {"if the service is absent", false, assumed_root},
        {"if the root is absent", true, RootState::absent},
        {"if another object stands at the root", true, RootState::foreign},
    }};
    for (const Variant& v : variants) {
        const RecoveryDecision other = txn::drivers::decide_recovery(j, v.service, v.root);
        if (other != assumed) print_decision("  " + std::string(v.when) + ": ", other);
    }
}

// What a setup program does next after each outcome.
std::string_view next_step(txn::outcome::OutcomeKind kind) {
    using K = txn::outcome::OutcomeKind;
    switch (kind) {
        case K::committed:
        case K::repaired:
        case K::removed:
        case K::nothing_to_recover:
            return "nothing: the machine is in a defined state";
        case K::committed_finalize_pending:
            return "the new installation runs; run --recover to finish its clean-up";
        case K::rolled_back:
            return "the old installation is back; show the report, retry later";
        case K::refused:
            return "nothing was changed; the primary fault says what was wrong";
        case K::busy:
            return "another engine runs; wait for it, then retry";
        case K::reboot_required:
        case K::removed_reboot_pending:
            return "restart the machine";
        case K::recovery_required:
        case K::recovery_pending:
            return "run --recover";
        case K::recovery_unsupported:
        case K::remove_incomplete:
            return "give up and show the report to support";
    }
    return "";
}

std::string fault_text(const nlohmann::json& fault) {
    if (!fault.is_object()) return "none";
    std::string text;
    for (const char* key : {"phase", "reason"}) {
        const auto it = fault.find(key);
        if (it != fault.end() && it->is_string())
            text += (text.empty() ? "" : "/") + it->get<std::string>();
    }
    if (const auto it = fault.find("win32"); it != fault.end() && it->is_number_unsigned())
        text += ", win32 error " + std::to_string(it->get<uint64_t>());
    if (const auto it = fault.find("rel"); it != fault.end() && it->is_string())
        text += ", at " + it->get<std::string>();
    return text.empty() ? "unreadable" : text;
}

ToolResult<int> explain_report(const nlohmann::json& report, const std::string& name) {
    const auto field = [&](const char* key) -> std::optional<std::string> {
        const auto it = report.find(key);
        if (it == report.end() || !it->is_string()) return std::nullopt;
        return it->get<std::string>();
    };
    const auto format = report.find("format");
    const auto exit = report.find("exit_code");
    const auto outcome = field("outcome");
    const auto command = field("command");
    const auto txid = field("txid");
    if (format == report.end() || *format != 1 || exit == report.end() ||
        !exit->is_number_integer() || !outcome || !command || !txid)
        return usage(name + " is not an outcome report of this engine (format 1)");
    // The outcome and its exit code, checked against the engine's own table.
    const std::optional<txn::outcome::OutcomeKind> kind = txn::outcome::outcome_named(*outcome);
    if (!kind) return usage(name + " is damaged: unknown outcome \"" + *outcome + "\"");
    if (exit->get<int64_t>() != txn::outcome::exit_code_of(*kind))
        return usage(name + " is damaged: outcome " + *outcome + " has exit code " +
                     std::to_string(txn::outcome::exit_code_of(*kind)) + ", not " +
                     std::to_string(exit->get<int64_t>()));
    print_line("an outcome report of --" + *command + ", txid " +
               (txid->empty() ? "(none)" : *txid));
    print_line("outcome " + *outcome + ", exit code " + std::to_string(exit->get<int64_t>()));
    print_line("what went wrong first: " + fault_text(report.value("primary", nlohmann::json())));
    print_line("what recovery hit: " +
               fault_text(report.value("recovery_error", nlohmann::json())));
    if (const auto holders = report.find("holders");
        holders != report.end() && holders->is_object() && holders->contains("processes") &&
        (*holders)["processes"].is_array() && !(*holders)["processes"].empty()) {
        std::string list;
        for (const auto& p : (*holders)["processes"])
            if (p.is_object() && p.contains("image") && p["image"].is_string())
                list += (list.empty() ? "" : ", ") + p["image"].get<std::string>();
        print_line("processes holding files: " + list);
    }
    if (const auto pending = report.find("reboot_pending");
        pending != report.end() && pending->is_array() && !pending->empty())
        print_line(std::to_string(pending->size()) + " object(s) wait for a restart to be deleted");
    print_line("what to do next: " + std::string(next_step(*kind)));
    print_line("a report records no marks: the journal txn.json in the stage directory has them");
    return kExitOk;
}

// A file of the host; a stage directory stands for the journal in it.
ToolResult<std::string> read_host_file(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::is_directory(path, ec)
                                           ? std::filesystem::path(path) / "journal" / "txn.json"
                                           : std::filesystem::path(path);
    std::ifstream in(file, std::ios::binary);
    if (!in) return usage("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

ToolResult<int> verb_explain(const VerbArgs& args) {
    const std::string& path = args.positionals[0];
    std::unique_ptr<sim::Machine> machine;
    std::string bytes;
    if (const auto machine_file = args.option("--machine")) {
        auto loaded = load_machine(*machine_file);
        if (!loaded) return std::unexpected(loaded.error());
        machine = std::move(*loaded);
        const auto winpath = windows_path_arg(path, "PATH");
        if (!winpath) return std::unexpected(winpath.error());
        const auto info = machine->stat(*winpath);
        if (!info) return machine_refused("cannot read", *winpath, info.error());
        const std::u16string file =
            info->kind == sim::NodeKind::directory ? journal::journal_file(*winpath) : *winpath;
        const auto content = machine->read_file(file);
        if (!content) return machine_refused("cannot read", file, content.error());
        bytes.assign(content->begin(), content->end());
    } else {
        auto content = read_host_file(path);
        if (!content) return std::unexpected(content.error());
        bytes = std::move(*content);
    }

    const auto document = nlohmann::json::parse(bytes, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return usage(path + " is neither a journal nor an outcome report: not a JSON object");
    if (document.contains("marks") && document.contains("ops")) {
        const auto j = journal::decode_journal(bytes);
        if (!j) {
            const bool unsupported = j.error().problem == journal::JournalProblem::unsupported;
            return usage("journal " + path + " is " +
                         (unsupported ? "of an unsupported format: " : "damaged: ") +
                         std::string(j.error().detail));
        }
        explain_journal(*j, machine.get());
        return kExitOk;
    }
    if (document.contains("outcome")) return explain_report(document, path);
    return usage(path + " is neither a journal nor an outcome report");
}

}  // namespace holvar::simtool
