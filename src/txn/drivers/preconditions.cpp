#include "txn/drivers/preconditions.hpp"

#include "platform/win_path.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/fs/trusted_directory.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

constexpr std::u16string_view kEngineFileName = u"holvar-service-install.exe";

Fault stage_invalid() {
    return plain_fault(Phase::scan, FaultReason::stage_invalid);
}

// The running executable must be the stage directory's engine: the same text
// once ASCII letters are folded.
bool runs_from_stage(p::Os& os, const std::u16string& stage_dir) {
    p::Result<std::u16string> exe = os.processes.get_module_file_name();
    if (exe) exe = os.files.get_full_path_name(*exe);
    if (!exe) return false;
    return p::ascii_iequal(*exe, p::join_path(stage_dir, kEngineFileName));
}

}  // namespace

std::expected<TransactionContext, Fault> check_preconditions(p::Os& os, const std::u16string& root,
                                                             const std::u16string& stage_dir) {
    p::Result<TransactionContext> ctx = build_context(os, root, stage_dir);
    if (!ctx)
        return std::unexpected(fault_of(ctx.error(), Phase::scan, FaultReason::stage_invalid));
    if (!runs_from_stage(os, ctx->stage_dir)) return std::unexpected(stage_invalid());
    std::optional<std::u16string> root_parent = p::parent_path(ctx->root);
    std::optional<std::u16string> stage_parent = p::parent_path(ctx->stage_dir);
    if (!root_parent || !stage_parent || !p::paths_equal_exact(*root_parent, *stage_parent))
        return std::unexpected(stage_invalid());
    if (!fs::is_trusted_directory(os, ctx->stage_dir)) return std::unexpected(stage_invalid());
    return std::move(*ctx);
}

outcome::OutcomeReport precondition_report(outcome::Command command, const Fault& fault) {
    outcome::OutcomeReport report;
    report.command = command;
    report.outcome = outcome::OutcomeKind::refused;
    report.primary = fault;
    return report;
}

}  // namespace holvar::txn::drivers
