#include "txn/outcome/outcome.hpp"

#include <array>

namespace holvar::txn::outcome {

namespace {

template <size_t N>
std::string_view name_at(const std::array<std::string_view, N>& names, size_t index) {
    return index < N ? names[index] : std::string_view{"unknown"};
}

constexpr std::array<std::string_view, 4> command_names = {"apply", "recover", "remove", "repair"};

struct OutcomeRow {
    std::string_view name;
    int32_t exit_code;
};
constexpr std::array<OutcomeRow, 14> outcome_rows = {{
    {"committed", 0},
    {"repaired", 0},
    {"committed_finalize_pending", 5},
    {"rolled_back", 10},
    {"refused", 11},
    {"busy", 12},
    {"reboot_required", 13},
    {"recovery_required", 14},
    {"nothing_to_recover", 15},
    {"recovery_pending", 20},
    {"recovery_unsupported", 21},
    {"removed", 30},
    {"removed_reboot_pending", 31},
    {"remove_incomplete", 32},
}};

constexpr std::array<std::string_view, 18> phase_names = {
    "scan",
    "plan",
    "fence",
    "quiesce",
    "place",
    "configure",
    "verify",
    "commit",
    "finalize",
    "rollback",
    "remove_plan",
    "remove_service",
    "remove_runtime",
    "remove_maintenance",
    "remove_tree",
    "remove_registry",
    "remove_finalize",
    "repair",
};

constexpr std::array<std::string_view, 26> reason_names = {
    "invalid_arguments",
    "invalid_fault",
    "unsafe_object",
    "root_mismatch",
    "stage_invalid",
    "volume_unsupported",
    "kind_mismatch",
    "pending_reboot_ops",
    "foreign_unfinished_journal",
    "journal_write_failed",
    "journal_corrupt",
    "journal_unsupported",
    "foreign_identity",
    "sharing_violation",
    "timeout",
    "scm_error",
    "service_stop_timeout",
    "core_retire_failed",
    "endpoint_present",
    "process_under_root",
    "verify_failed",
    "volume_flush_failed",
    "registry_failed",
    "schedule_failed",
    "maintenance_failed",
    "mutex_failed",
};

constexpr std::array<std::string_view, 3> holder_status_names = {"not_queried", "ok",
                                                                 "query_failed"};

}  // namespace

std::string_view command_name(Command command) {
    return name_at(command_names, static_cast<size_t>(command));
}

int32_t exit_code_of(OutcomeKind kind) {
    auto i = static_cast<size_t>(kind);
    // An outcome outside the table cannot be built from the enumeration's
    // values; should one appear anyway it must never read as success.
    return i < outcome_rows.size() ? outcome_rows[i].exit_code : 11;
}

std::string_view outcome_name(OutcomeKind kind) {
    auto i = static_cast<size_t>(kind);
    return i < outcome_rows.size() ? outcome_rows[i].name : std::string_view{"unknown"};
}

std::string_view phase_name(Phase phase) {
    return name_at(phase_names, static_cast<size_t>(phase));
}

std::string_view fault_reason_name(FaultReason reason) {
    return name_at(reason_names, static_cast<size_t>(reason));
}

std::string_view holder_status_name(HolderStatus status) {
    return name_at(holder_status_names, static_cast<size_t>(status));
}

Fault fault_from_error(const platform::Error& error, Phase phase, FaultReason reason) {
    Fault fault;
    fault.phase = phase;
    fault.reason = reason;
    if (error.kind == platform::ErrorKind::win32) fault.win32 = error.win32;
    return fault;
}

std::optional<OutcomeKind> outcome_named(std::string_view name) {
    for (size_t i = 0; i < outcome_rows.size(); ++i)
        if (outcome_rows[i].name == name) return static_cast<OutcomeKind>(i);
    return std::nullopt;
}

std::optional<OutcomeKind> outcome_of_exit_code(int32_t code) {
    for (size_t i = 0; i < outcome_rows.size(); ++i)
        if (outcome_rows[i].exit_code == code) return static_cast<OutcomeKind>(i);
    return std::nullopt;
}

}  // namespace holvar::txn::outcome
