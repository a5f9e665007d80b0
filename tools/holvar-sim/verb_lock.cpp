// `hold-lock` and `kill`: another engine that holds the transaction lock, and
// its end. The holder is a process of the machine file, so it stays alive
// across invocations until `kill` ends it (or the machine crashes).
#include "installer/transaction_lock.hpp"
#include "machine_file.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

// Another engine; where its image lives does not matter to the lock.
constexpr std::u16string_view kDefaultHolderImage =
    u"C:\\Windows\\System32\\holvar-sim-lock-holder.exe";

}  // namespace

ToolResult<int> verb_hold_lock(const VerbArgs& args) {
    std::u16string image(kDefaultHolderImage);
    if (const auto word = args.option("--exe")) {
        auto path = windows_path_arg(*word, "--exe");
        if (!path) return std::unexpected(path.error());
        image = std::move(*path);
    }
    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;

    const uint32_t pid = m.spawn_process(image, sim::admin_token());
    {
        sim::ProcessOs process(m, pid);
        auto lock = installer::take_transaction_lock(process.os());
        if (lock.state != installer::LockState::held) {
            // Nothing is saved: the machine file stays as it was.
            return refused(lock.state == installer::LockState::busy
                               ? "the transaction lock is held by another process"
                               : "the transaction lock could not be taken (win32 error " +
                                     std::to_string(lock.win32) + ")");
        }
        leave_open(std::move(lock.handle));
    }
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
    print_line("holding the transaction lock as process");
    print_line(std::to_string(pid));
    return kExitOk;
}

ToolResult<int> verb_kill(const VerbArgs& args) {
    const auto pid = number_arg(args.positionals[1], "PID");
    if (!pid) return std::unexpected(pid.error());
    uint32_t exit_code = 1;
    if (const auto word = args.option("--exit-code")) {
        auto code = number_arg(*word, "--exit-code");
        if (!code) return std::unexpected(code.error());
        exit_code = *code;
    }
    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;
    if (!m.process_alive(*pid)) return refused("no running process " + std::to_string(*pid));
    m.exit_process(*pid, exit_code);
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
    return kExitOk;
}

}  // namespace holvar::simtool
