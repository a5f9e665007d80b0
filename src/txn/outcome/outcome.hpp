// The outcome vocabulary every run ends in: outcomes bound to exit codes,
// phases, fault reasons, and the record behind the outcome report. Every part
// of the engine reports failures in these terms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "txn/outcome/command.hpp"

namespace holvar::txn::outcome {

enum class OutcomeKind : uint8_t {
    committed = 0,
    repaired = 1,
    committed_finalize_pending = 2,
    rolled_back = 3,
    refused = 4,
    busy = 5,
    reboot_required = 6,
    recovery_required = 7,
    nothing_to_recover = 8,
    recovery_pending = 9,
    recovery_unsupported = 10,
    removed = 11,
    removed_reboot_pending = 12,
    remove_incomplete = 13,
};

// The process exit code bound to an outcome: part of the contract with the
// setup program, so one table, never computed elsewhere.
int32_t exit_code_of(OutcomeKind kind);
std::string_view outcome_name(OutcomeKind kind);
// The outcome of that name; none for a name the contract does not know.
std::optional<OutcomeKind> outcome_named(std::string_view name);
// The first outcome, in the table's order, bound to that exit code.
std::optional<OutcomeKind> outcome_of_exit_code(int32_t code);

enum class Phase : uint8_t {
    scan = 0,
    plan = 1,
    fence = 2,
    quiesce = 3,
    place = 4,
    configure = 5,
    verify = 6,
    commit = 7,
    finalize = 8,
    rollback = 9,
    remove_plan = 10,
    remove_service = 11,
    remove_runtime = 12,
    remove_maintenance = 13,
    remove_tree = 14,
    remove_registry = 15,
    remove_finalize = 16,
    repair = 17,
};
std::string_view phase_name(Phase phase);

enum class FaultReason : uint8_t {
    invalid_arguments = 0,
    invalid_fault = 1,
    unsafe_object = 2,
    root_mismatch = 3,
    stage_invalid = 4,
    volume_unsupported = 5,
    kind_mismatch = 6,
    pending_reboot_ops = 7,
    foreign_unfinished_journal = 8,
    journal_write_failed = 9,
    journal_corrupt = 10,
    journal_unsupported = 11,
    foreign_identity = 12,
    sharing_violation = 13,
    timeout = 14,
    scm_error = 15,
    service_stop_timeout = 16,
    core_retire_failed = 17,
    endpoint_present = 18,
    process_under_root = 19,
    verify_failed = 20,
    volume_flush_failed = 21,
    registry_failed = 22,
    schedule_failed = 23,
    maintenance_failed = 24,
    mutex_failed = 25,
};
std::string_view fault_reason_name(FaultReason reason);

// A failure as the report records it: never an error text, only the phase,
// the reason, the Win32 code and, where the raising part says so, a path
// relative to the install root or the stage directory.
struct Fault {
    Phase phase = Phase::scan;
    FaultReason reason = FaultReason::invalid_fault;
    std::optional<uint32_t> win32;
    std::optional<std::u16string> rel;

    friend bool operator==(const Fault&, const Fault&) = default;
};

// Keeps only the Win32 code of an operating-system error; rel stays empty.
Fault fault_from_error(const platform::Error& error, Phase phase, FaultReason reason);

enum class HolderStatus : uint8_t { not_queried = 0, ok = 1, query_failed = 2 };
std::string_view holder_status_name(HolderStatus status);

struct ProcessEntry {
    uint32_t pid = 0;
    std::u16string image;
    friend bool operator==(const ProcessEntry&, const ProcessEntry&) = default;
};

// Processes found holding files under the install root.
struct HolderReport {
    HolderStatus status = HolderStatus::not_queried;
    std::optional<uint32_t> win32;
    std::vector<ProcessEntry> processes;
    friend bool operator==(const HolderReport&, const HolderReport&) = default;
};

// One maintenance child process run by the removal steps.
struct MaintenanceEntry {
    std::string command;
    std::optional<int32_t> exit;
    std::optional<std::string> error;
    friend bool operator==(const MaintenanceEntry&, const MaintenanceEntry&) = default;
};

inline constexpr uint32_t report_format = 1;
inline constexpr std::string_view engine_version = "3.0.0";
inline constexpr std::string_view no_txid = "none";

// The record behind the outcome report. The exit code is not stored: it is
// always the one bound to the outcome.
struct OutcomeReport {
    Command command = Command::apply;
    std::string txid{no_txid};
    OutcomeKind outcome = OutcomeKind::refused;
    std::optional<Fault> primary;
    std::optional<Fault> recovery_error;
    HolderReport holders;
    std::vector<MaintenanceEntry> maintenance;
    std::vector<std::u16string> reboot_pending;

    int32_t exit_code() const { return exit_code_of(outcome); }
    friend bool operator==(const OutcomeReport&, const OutcomeReport&) = default;
};

}  // namespace holvar::txn::outcome
