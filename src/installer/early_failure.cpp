#include "installer/early_failure.hpp"

#include "platform/win_path.hpp"
#include "txn/drivers/context.hpp"
#include "txn/outcome/report_file.hpp"

namespace holvar::installer {

using namespace platform;
using namespace txn::outcome;

namespace {

constexpr int busy_exit_code = 12;

}  // namespace

int report_early_failure(Os& os, Command command, FaultReason reason,
                         const std::optional<std::u16string>& root, int exit_code) {
    OutcomeReport report;
    report.command = command;
    report.outcome = exit_code == busy_exit_code ? OutcomeKind::busy : OutcomeKind::refused;
    report.primary = Fault{Phase::scan, reason, std::nullopt, std::nullopt};

    std::optional<std::u16string> base;
    if (root) base = parent_path(*root);
    if (!base) {
        // The engine normally runs from the stage directory beside the root,
        // so two levels above its own executable is the same place.
        Result<std::u16string> exe = os.processes.get_module_file_name();
        if (exe) exe = os.files.get_full_path_name(*exe);
        if (exe) {
            std::optional<std::u16string> dir = parent_path(*exe);
            if (dir) base = parent_path(*dir);
        }
    }
    if (base)
        (void)write_outcome_report(os, std::nullopt,
                                   join_path(*base, txn::drivers::diagnostics_dir_name), report);
    return report.exit_code();
}

}  // namespace holvar::installer
