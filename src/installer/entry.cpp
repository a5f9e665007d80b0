#include "installer/entry.hpp"

#include "installer/arguments.hpp"
#include "installer/early_failure.hpp"
#include "installer/transaction_lock.hpp"
#include "platform/win_path.hpp"
#include "txn/drivers/context.hpp"

namespace holvar::installer {

using namespace platform;
using namespace txn::outcome;
using txn::drivers::check_engine_placement;

namespace {

constexpr int refused_exit = 11;
constexpr int busy_exit = 12;
constexpr std::u16string_view installed_engine_dir = u"resources";
constexpr std::u16string_view engine_file_name = u"holvar-service-install.exe";

// Where the run must start from; returns the exit code of the run.
int dispatch(Os& os, const ParsedArguments& args, const std::u16string& root, Drivers& drivers) {
    Result<std::u16string> exe = os.processes.get_module_file_name();
    if (exe) exe = os.files.get_full_path_name(*exe);
    if (!exe)
        return report_early_failure(os, args.command, FaultReason::stage_invalid, root,
                                    refused_exit);

    if (args.command == Command::repair) {
        // Repair runs only from the installed copy of the engine.
        std::u16string installed =
            join_path(join_path(root, installed_engine_dir), engine_file_name);
        if (!paths_equal_exact(*exe, installed))
            return report_early_failure(os, Command::repair, FaultReason::stage_invalid, root,
                                        refused_exit);
        return drivers.repair(os, root).exit_code();
    }

    std::optional<std::u16string> stage_dir = parent_path(*exe);
    if (!stage_dir || !check_engine_placement(os, root, *stage_dir))
        return report_early_failure(os, args.command, FaultReason::stage_invalid, root,
                                    refused_exit);
    switch (args.command) {
        case Command::remove:
            return drivers.remove(os, root, *stage_dir, args.purge_session_vault).exit_code();
        case Command::recover:
            return drivers.recover(os, root, *stage_dir).exit_code();
        default:
            return drivers.apply(os, root, *stage_dir).exit_code();
    }
}

}  // namespace

int run_engine(Os& os, const std::vector<std::u16string>& argv) {
    EngineDrivers drivers;
    return run_engine(os, argv, drivers);
}

int run_engine(Os& os, const std::vector<std::u16string>& argv, Drivers& drivers) {
    std::optional<ParsedArguments> args = parse_arguments(argv);
    if (!args)
        return report_early_failure(os, Command::apply, FaultReason::invalid_arguments,
                                    std::nullopt, refused_exit);

    Result<std::u16string> root = os.files.get_full_path_name(args->root);
    if (!root)
        return report_early_failure(os, args->command, FaultReason::stage_invalid, std::nullopt,
                                    refused_exit);

    // Taken before anything of the machine is read, and held (the handle
    // open) until the run has ended and its report is written.
    TransactionLock lock = take_transaction_lock(os);
    if (lock.state != LockState::held)
        return report_early_failure(os, args->command, FaultReason::mutex_failed, *root,
                                    lock.state == LockState::busy ? busy_exit : refused_exit);

    return dispatch(os, *args, *root, drivers);
}

}  // namespace holvar::installer
