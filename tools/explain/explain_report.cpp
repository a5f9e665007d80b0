// An outcome report, checked against the engine's own outcome table before a
// word of it is believed.
#include "explain/explain_report.hpp"

namespace holvar::explain {

namespace {

std::optional<std::string> string_field(const nlohmann::json& report, const char* key) {
    const auto it = report.find(key);
    if (it == report.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

nlohmann::json fault_field(const nlohmann::json& report, const char* key) {
    const auto it = report.find(key);
    return it != report.end() && it->is_object() ? *it : nlohmann::json();
}

}  // namespace

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

std::expected<ReportExplanation, Unexplained> explain_report(const nlohmann::json& report,
                                                             const std::string& name) {
    const auto format = report.find("format");
    const auto exit = report.find("exit_code");
    const auto outcome = string_field(report, "outcome");
    const auto command = string_field(report, "command");
    const auto txid = string_field(report, "txid");
    if (format == report.end() || *format != 1 || exit == report.end() ||
        !exit->is_number_integer() || !outcome || !command || !txid)
        return std::unexpected(
            Unexplained{name + " is not an outcome report of this engine (format 1)"});
    const std::optional<txn::outcome::OutcomeKind> kind = txn::outcome::outcome_named(*outcome);
    if (!kind)
        return std::unexpected(
            Unexplained{name + " is damaged: unknown outcome \"" + *outcome + "\""});
    const int64_t code = exit->get<int64_t>();
    if (code != txn::outcome::exit_code_of(*kind))
        return std::unexpected(Unexplained{
            name + " is damaged: outcome " + *outcome + " has exit code " +
            std::to_string(txn::outcome::exit_code_of(*kind)) + ", not " + std::to_string(code)});

    ReportExplanation e;
    e.command = *command;
    e.txid = *txid;
    e.outcome = *kind;
    e.exit_code = static_cast<int>(code);
    e.primary = fault_field(report, "primary");
    e.recovery_error = fault_field(report, "recovery_error");
    if (const auto holders = report.find("holders");
        holders != report.end() && holders->is_object()) {
        if (const auto processes = holders->find("processes");
            processes != holders->end() && processes->is_array())
            for (const auto& process : *processes)
                if (process.is_object() && process.contains("image") &&
                    process["image"].is_string())
                    e.holders.push_back(process["image"].get<std::string>());
    }
    if (const auto pending = report.find("reboot_pending");
        pending != report.end() && pending->is_array())
        e.reboot_pending = pending->size();
    return e;
}

}  // namespace holvar::explain
