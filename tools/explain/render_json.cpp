#include "explain/render.hpp"
#include "explain/wording.hpp"

namespace holvar::explain {

namespace {

using nlohmann::json;

json text_or_null(std::string_view text) {
    return text.empty() ? json() : json(std::string(text));
}

json decision_json(txn::drivers::RecoveryDecision decision) {
    return json{{"decision", decision_name(decision)}, {"why", decision_story(decision)}};
}

json machine_json(const MachineAnswers& m) {
    json service;
    if (m.service) {
        service = *m.service == ServiceSeen::installed           ? "installed"
                  : *m.service == ServiceSeen::marked_for_delete ? "marked_for_delete"
                                                                 : "absent";
    }
    json lock;
    if (m.lock) lock = *m.lock == LockSeen::free ? "free" : "busy";
    return json{
        {"service", service},
        {"service_error", text_or_null(m.service_error)},
        {"service_state", text_or_null(m.service_state)},
        {"service_start", text_or_null(m.service_start)},
        {"service_image", text_or_null(m.service_image)},
        {"root", m.root ? json(root_state_name(*m.root)) : json()},
        {"root_error", text_or_null(m.root_error)},
        {"lock", lock},
        {"lock_error", text_or_null(m.lock_error)},
    };
}

json journal_json(const JournalExplanation& e) {
    json marks = json::array();
    for (const auto mark : e.marks) marks.push_back(txn::journal::mark_name(mark));
    json recover = decision_json(e.decision);
    if (e.assumed_root) {
        recover["assumed"] =
            json{{"service", "installed"}, {"root", root_state_name(*e.assumed_root)}};
        json otherwise = json::array();
        for (const DecisionVariant& v : e.variants) {
            json row = decision_json(v.decision);
            row["when"] = v.when;
            otherwise.push_back(std::move(row));
        }
        recover["otherwise"] = std::move(otherwise);
    } else {
        recover["assumed"] = nullptr;
        recover["otherwise"] = json::array();
    }
    return json{
        {"file", "journal"},
        {"kind", e.removal ? "remove" : "apply"},
        {"txid", e.txid},
        {"root", e.root},
        {"operations", e.operations},
        {"marks", std::move(marks)},
        {"last_run", e.marks.empty() ? json() : json(mark_story(e.marks.back()))},
        {"ended", e.ended},
        {"machine", e.machine ? machine_json(*e.machine) : json()},
        {"recover", std::move(recover)},
    };
}

json report_json(const ReportExplanation& e) {
    return json{
        {"file", "report"},
        {"command", e.command},
        {"txid", e.txid},
        {"outcome", txn::outcome::outcome_name(e.outcome)},
        {"exit_code", e.exit_code},
        {"primary", e.primary},
        {"recovery_error", e.recovery_error},
        {"holders", e.holders},
        {"reboot_pending", e.reboot_pending},
        {"next_step", next_step(e.outcome)},
    };
}

}  // namespace

std::string render_json(const Explanation& explanation) {
    const json document = std::holds_alternative<JournalExplanation>(explanation)
                              ? journal_json(std::get<JournalExplanation>(explanation))
                              : report_json(std::get<ReportExplanation>(explanation));
    // Replacement characters for whatever a report carried that is not UTF-8.
    return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace holvar::explain
