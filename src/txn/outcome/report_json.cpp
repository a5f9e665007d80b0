#include "txn/outcome/report_json.hpp"

#include "txn/outcome/json_writer.hpp"

namespace holvar::txn::outcome {

namespace {

template <class T, class Write>
void optional_value(JsonWriter& w, const std::optional<T>& value, Write write) {
    if (value)
        write(*value);
    else
        w.null();
}

void write_fault(JsonWriter& w, const std::optional<Fault>& fault) {
    if (!fault) {
        w.null();
        return;
    }
    w.begin_object();
    w.key("phase");
    w.string(phase_name(fault->phase));
    w.key("reason");
    w.string(fault_reason_name(fault->reason));
    w.key("win32");
    optional_value(w, fault->win32, [&](uint32_t v) { w.unsigned_number(v); });
    w.key("rel");
    optional_value(w, fault->rel, [&](const std::u16string& v) { w.string(v); });
    w.end_object();
}

void write_holders(JsonWriter& w, const HolderReport& holders) {
    w.begin_object();
    w.key("status");
    w.string(holder_status_name(holders.status));
    w.key("win32");
    optional_value(w, holders.win32, [&](uint32_t v) { w.unsigned_number(v); });
    w.key("processes");
    w.begin_array();
    for (const ProcessEntry& p : holders.processes) {
        w.begin_object();
        w.key("pid");
        w.unsigned_number(p.pid);
        w.key("image");
        w.string(p.image);
        w.end_object();
    }
    w.end_array();
    w.end_object();
}

void write_maintenance(JsonWriter& w, const std::vector<MaintenanceEntry>& entries) {
    w.begin_array();
    for (const MaintenanceEntry& m : entries) {
        w.begin_object();
        w.key("command");
        w.string(m.command);
        w.key("exit");
        optional_value(w, m.exit, [&](int32_t v) { w.signed_number(v); });
        w.key("error");
        optional_value(w, m.error, [&](const std::string& v) { w.string(v); });
        w.end_object();
    }
    w.end_array();
}

}  // namespace

std::string serialize_report(const OutcomeReport& report) {
    JsonWriter w;
    w.begin_object();
    w.key("format");
    w.unsigned_number(report_format);
    w.key("engine_version");
    w.string(engine_version);
    w.key("command");
    w.string(command_name(report.command));
    w.key("txid");
    w.string(report.txid);
    w.key("outcome");
    w.string(outcome_name(report.outcome));
    w.key("exit_code");
    w.signed_number(report.exit_code());
    w.key("primary");
    write_fault(w, report.primary);
    w.key("recovery_error");
    write_fault(w, report.recovery_error);
    w.key("holders");
    write_holders(w, report.holders);
    w.key("maintenance");
    write_maintenance(w, report.maintenance);
    w.key("reboot_pending");
    w.begin_array();
    for (const std::u16string& item : report.reboot_pending) w.string(item);
    w.end_array();
    w.end_object();
    return w.take();
}

}  // namespace holvar::txn::outcome
