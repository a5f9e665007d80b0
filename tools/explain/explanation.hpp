// An explanation of a journal or an outcome report: what transaction it is,
// the marks it reached, what its last run did, and for a journal what
// `--recover` would decide and why. Built once from the file's bytes (and, when
// asked, the live machine), then rendered as text or as JSON, so both forms say
// the same. The journal is read by the engine's own decoder and the decision
// asked of the engine's own table, so an explanation cannot drift from the
// engine.
#pragma once

#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "explain/machine_answers.hpp"
#include "platform/os.hpp"
#include "txn/drivers/recover.hpp"
#include "txn/journal/journal.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::explain {

// Exit codes: explained, or a file that is damaged, foreign or unreadable.
inline constexpr int kExitExplained = 0;
inline constexpr int kExitUnreadable = 2;

// What recovery would decide in a state other than the one assumed.
struct DecisionVariant {
    std::string_view when;  // "if the service is absent"
    txn::drivers::RecoveryDecision decision;
};

struct JournalExplanation {
    bool removal = false;
    std::string txid;
    std::string root;  // UTF-8, an unpaired surrogate shown as U+FFFD
    size_t operations = 0;
    std::vector<txn::journal::MarkKind> marks;
    bool ended = false;
    // The live machine's answers; none when it was not asked.
    std::optional<MachineAnswers> machine;
    // Not asked, or not answered in full: the decision is the one for the
    // usual state (the service installed, the root as recorded), followed by
    // the states that would change it.
    std::optional<txn::drivers::RootState> assumed_root;
    txn::drivers::RecoveryDecision decision = txn::drivers::RecoveryDecision::ended;
    std::vector<DecisionVariant> variants;
};

struct ReportExplanation {
    std::string command;
    std::string txid;
    txn::outcome::OutcomeKind outcome = txn::outcome::OutcomeKind::committed;
    int exit_code = 0;
    nlohmann::json primary;  // the report's fault objects, or null
    nlohmann::json recovery_error;
    std::vector<std::string> holders;  // the images of the processes holding files
    size_t reboot_pending = 0;
};

using Explanation = std::variant<JournalExplanation, ReportExplanation>;

// A file that cannot be explained: the message names it.
struct Unexplained {
    std::string message;
};

// Explains the bytes of a journal or a report named `name` in messages. With
// `live`, a journal's questions are put to that machine.
std::expected<Explanation, Unexplained> explain_bytes(std::string_view bytes,
                                                      const std::string& name, platform::Os* live);

JournalExplanation explain_journal(const txn::journal::Journal& journal, platform::Os* live);

// "phase/reason, win32 error N, at rel"; "none" for null.
std::string fault_text(const nlohmann::json& fault);

}  // namespace holvar::explain
