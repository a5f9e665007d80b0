#include "installer/context.hpp"
#include "installer/drivers.hpp"
#include "installer/report_file.hpp"
#include "platform/win_path.hpp"

namespace holvar::installer {

using namespace platform;

namespace {

OutcomeReport refuse_pending(Os& os, Command command, const std::u16string& root,
                             const std::optional<std::u16string>& stage_dir) {
    OutcomeReport report;
    report.command = command;
    report.outcome = OutcomeKind::refused;
    report.primary = Fault{Phase::scan, FaultReason::invalid_fault, std::nullopt, std::nullopt};
    std::u16string diagnostics_dir;
    if (stage_dir) {
        Result<TransactionContext> context = build_context(os, root, *stage_dir);
        if (context) {
            report.txid = context->txid;
            diagnostics_dir = context->diagnostics_dir;
        }
    } else if (std::optional<std::u16string> parent = parent_path(root)) {
        diagnostics_dir = join_path(*parent, diagnostics_dir_name);
    }
    if (!diagnostics_dir.empty())
        (void)write_outcome_report(os, stage_dir, diagnostics_dir, report);
    return report;
}

}  // namespace

OutcomeReport PendingDrivers::apply(Os& os, const std::u16string& root,
                                    const std::u16string& stage_dir) {
    return refuse_pending(os, Command::apply, root, stage_dir);
}

OutcomeReport PendingDrivers::recover(Os& os, const std::u16string& root,
                                      const std::u16string& stage_dir) {
    return refuse_pending(os, Command::recover, root, stage_dir);
}

OutcomeReport PendingDrivers::remove(Os& os, const std::u16string& root,
                                     const std::u16string& stage_dir, bool) {
    return refuse_pending(os, Command::remove, root, stage_dir);
}

OutcomeReport PendingDrivers::repair(Os& os, const std::u16string& root) {
    return refuse_pending(os, Command::repair, root, std::nullopt);
}

}  // namespace holvar::installer
