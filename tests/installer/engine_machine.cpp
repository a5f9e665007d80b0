#include "engine_machine.hpp"

#include <gtest/gtest.h>

#include "installer/entry.hpp"

namespace holvar::installer::testing {

using namespace platform;

Sid administrators() {
    return *sid_from_string(sids::administrators);
}
Sid local_system() {
    return *sid_from_string(sids::local_system);
}
Sid ordinary_user() {
    return sim::user_token().user;
}

OutcomeReport RecordingDrivers::record(Os& os, DriverCall call, OutcomeKind outcome) {
    calls.push_back(std::move(call));
    if (during) during(os);
    OutcomeReport report;
    report.command = calls.back().command;
    report.outcome = outcome;
    return report;
}

OutcomeReport RecordingDrivers::apply(Os& os, const std::u16string& r, const std::u16string& s) {
    return record(os, {Command::apply, r, s, false}, OutcomeKind::committed);
}
OutcomeReport RecordingDrivers::recover(Os& os, const std::u16string& r, const std::u16string& s) {
    return record(os, {Command::recover, r, s, false}, OutcomeKind::nothing_to_recover);
}
OutcomeReport RecordingDrivers::remove(Os& os, const std::u16string& r, const std::u16string& s,
                                       bool purge) {
    return record(os, {Command::remove, r, s, purge}, OutcomeKind::removed);
}
OutcomeReport RecordingDrivers::repair(Os& os, const std::u16string& r) {
    return record(os, {Command::repair, r, u"", false}, OutcomeKind::recovery_required);
}

EngineMachine::EngineMachine() : machine(sim::Machine::fresh()) {
    EXPECT_TRUE(machine->make_directory(parent, administrators()));
    EXPECT_TRUE(machine->make_directory(stage, administrators()));
    EXPECT_TRUE(machine->write_file(engine_exe, {'M', 'Z'}, administrators()));
    EXPECT_TRUE(machine->make_directory(diagnostics, administrators()));
}

int EngineMachine::run(const std::vector<std::u16string>& argv, Drivers* drivers,
                       const std::u16string& image, const std::u16string& current_directory) {
    uint32_t pid = machine->spawn_process(image, sim::admin_token(), current_directory);
    int code = 0;
    {
        sim::ProcessOs process(*machine, pid);
        code = drivers ? run_engine(process.os(), argv, *drivers) : run_engine(process.os(), argv);
    }
    machine->exit_process(pid, static_cast<uint32_t>(code));
    return code;
}

std::optional<std::string> EngineMachine::text(const std::u16string& path) const {
    Result<std::vector<uint8_t>> bytes = machine->read_file(path);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

std::optional<std::string> EngineMachine::report(const std::u16string& file_name) const {
    return text(diagnostics + u"\\" + file_name);
}

std::vector<std::u16string> EngineMachine::names(const std::u16string& dir) const {
    std::vector<std::u16string> out;
    Result<std::vector<sim::NodeInfo>> listed = machine->list(dir);
    if (!listed) return out;
    for (const sim::NodeInfo& n : *listed)
        if (n.name != u"." && n.name != u"..") out.push_back(n.name);
    return out;
}

uint32_t EngineMachine::hold_lock() {
    Holder holder;
    holder.pid = machine->spawn_process(u"C:\\Windows\\System32\\holder.exe", sim::admin_token());
    holder.process = std::make_unique<sim::ProcessOs>(*machine, holder.pid);
    Result<CreatedMutex> created = holder.process->os().sync.create_mutex(mutex_name, false);
    EXPECT_TRUE(created);
    if (created) {
        Result<uint32_t> waited =
            holder.process->os().sync.wait_for_single_object(created->handle, 0);
        EXPECT_EQ(waited.value_or(~0u), WAIT_OBJECT_0);
        holder.mutex = std::move(created->handle);
    }
    uint32_t pid = holder.pid;
    holders_.push_back(std::move(holder));
    return pid;
}

void EngineMachine::kill(uint32_t pid) {
    for (auto it = holders_.begin(); it != holders_.end(); ++it) {
        if (it->pid != pid) continue;
        // The handle table goes with the process; the mutex stays owned by
        // the dead process until the next wait finds it abandoned.
        it->mutex = Handle();
        it->process.reset();
        holders_.erase(it);
        break;
    }
    machine->exit_process(pid, 1);
}

std::string early_report(std::string_view command, std::string_view outcome, int exit_code,
                         std::string_view reason) {
    std::string out = R"({"format":1,"engine_version":"3.0.0","command":")";
    out += command;
    out += R"(","txid":"none","outcome":")";
    out += outcome;
    out += R"(","exit_code":)";
    out += std::to_string(exit_code);
    out += R"(,"primary":{"phase":"scan","reason":")";
    out += reason;
    out += R"(","win32":null,"rel":null},"recovery_error":null,)";
    out += R"("holders":{"status":"not_queried","win32":null,"processes":[]},)";
    out += R"("maintenance":[],"reboot_pending":[]})";
    return out;
}

}  // namespace holvar::installer::testing
