#include "explore_engine.hpp"

#include <nlohmann/json.hpp>

#include <chrono>

#include "installer/entry.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/win_path.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::simtool {

EngineRun run_engine_from_stage(sim::Machine& machine, const Transaction& txn,
                                const std::vector<std::u16string>& args) {
    // A repair runs from the engine the installation keeps; --recover always
    // from the stage.
    const std::u16string& image =
        txn.image.empty() || args.front() != u"--repair" ? txn.stage.engine : txn.image;
    std::vector<std::u16string> argv{image};
    argv.insert(argv.end(), args.begin(), args.end());
    const uint32_t pid = machine.spawn_process(image, sim::admin_token());
    EngineRun run;
    try {
        sim::ProcessOs process(machine, pid);
        run.exit_code = installer::run_engine(process.os(), argv);
    } catch (const sim::CrashInjected& crash) {
        run.crashed = true;
        run.crash_call = crash.call;
        return run;
    }
    machine.arm_crash_after(0);
    machine.exit_process(pid, static_cast<uint32_t>(run.exit_code));
    return run;
}

void settle(sim::Machine& machine) {
    machine.advance(std::chrono::seconds(5));
}

std::vector<std::u16string> recover_args(const Transaction& txn) {
    return {u"--recover", u"--root", txn.root};
}

ReportReading read_report(const sim::Machine& machine, const Transaction& txn,
                          const std::string& command, int exit_code) {
    ReportReading r;
    // A repair is no transaction: its report carries no transaction id.
    const std::string txid = command == "repair" ? "none" : txn.txid;
    const std::u16string path = platform::join_path(
        txn.stage.diagnostics, u"engine-" + std::u16string(txid.begin(), txid.end()) + u"-" +
                                   std::u16string(command.begin(), command.end()) + u".json");
    auto bytes = machine.read_file(path);
    if (!bytes) {
        r.problem = "no " + command + " report";
        return r;
    }
    auto doc = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        r.problem = "the " + command + " report is not JSON";
        return r;
    }
    for (const char* key :
         {"format", "engine_version", "command", "txid", "outcome", "exit_code", "primary",
          "recovery_error", "holders", "maintenance", "reboot_pending"}) {
        if (!doc.contains(key)) {
            r.problem = "the " + command + " report has no \"" + key + "\"";
            return r;
        }
    }
    if (!doc["outcome"].is_string() || !doc["exit_code"].is_number_integer()) {
        r.problem = "the " + command + " report's outcome or exit code is not of its type";
        return r;
    }
    r.outcome = doc["outcome"].get<std::string>();
    std::optional<int> bound;
    if (auto kind = txn::outcome::outcome_named(r.outcome))
        bound = txn::outcome::exit_code_of(*kind);
    const int reported = doc["exit_code"].get<int>();
    if (!bound)
        r.problem =
            "the " + command + " report's outcome \"" + r.outcome + "\" is not in the contract";
    else if (reported != *bound || exit_code != *bound)
        r.problem = "the " + command + " report says " + r.outcome + " with exit code " +
                    std::to_string(reported) + ", the process ended with " +
                    std::to_string(exit_code);
    else if (doc["command"] != command || doc["txid"] != txid)
        r.problem = "the " + command + " report names another command or transaction";
    return r;
}

JournalReading read_journal(const sim::Machine& machine, const Transaction& txn) {
    JournalReading r;
    auto bytes = machine.read_file(
        platform::join_path(platform::join_path(txn.stage.stage, u"journal"), u"txn.json"));
    if (!bytes) return r;
    r.present = true;
    auto decoded = txn::journal::decode_journal(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!decoded)
        r.corrupt = true;
    else
        r.journal = std::move(*decoded);
    return r;
}

}  // namespace holvar::simtool
