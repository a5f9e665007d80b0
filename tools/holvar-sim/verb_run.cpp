// `run`: the engine as a process of the simulated machine. The process is
// spawned with an elevated administrator's token and the given image path,
// runs the real engine, and then ends with the engine's exit code, so what it
// still owns (the transaction mutex) is released the way Windows releases it:
// abandoned.
#include "installer/entry.hpp"
#include "machine_file.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

struct EngineRun {
    int exit_code = 0;
    bool crashed = false;
    uint64_t crash_call = 0;
};

EngineRun run_engine_process(sim::Machine& machine, const std::u16string& exe,
                             const std::optional<std::u16string>& cwd,
                             const std::vector<std::u16string>& argv) {
    const uint32_t pid = cwd ? machine.spawn_process(exe, sim::admin_token(), *cwd)
                             : machine.spawn_process(exe, sim::admin_token());
    EngineRun result;
    try {
        sim::ProcessOs process(machine, pid);
        result.exit_code = installer::run_engine(process.os(), argv);
    } catch (const sim::CrashInjected& crash) {
        // The power cut struck inside the engine: the machine keeps only what
        // had reached the disk, and every process, this one too, is gone.
        result.crashed = true;
        result.crash_call = crash.call_index;
        machine.crash();
        return result;
    }
    machine.arm_crash_after(0);
    machine.exit_process(pid, static_cast<uint32_t>(result.exit_code));
    return result;
}

}  // namespace

ToolResult<int> verb_run(const VerbArgs& args) {
    const auto exe_word = args.option("--exe");
    if (!exe_word) return usage("--exe is required");
    const auto exe = windows_path_arg(*exe_word, "--exe");
    if (!exe) return std::unexpected(exe.error());
    std::optional<std::u16string> cwd;
    if (const auto word = args.option("--cwd")) {
        auto path = windows_path_arg(*word, "--cwd");
        if (!path) return std::unexpected(path.error());
        cwd = std::move(*path);
    }
    std::optional<uint32_t> crash_after;
    if (const auto word = args.option("--crash-after")) {
        auto n = number_arg(*word, "--crash-after");
        if (!n) return std::unexpected(n.error());
        if (*n == 0) return usage("--crash-after must be at least 1");
        crash_after = *n;
    }
    // argv[0] is the program as Windows would pass it: the image path.
    std::vector<std::u16string> argv{*exe};
    for (size_t i = 0; i < args.rest.size(); ++i) {
        auto word = wide_arg(args.rest[i], "engine argument " + std::to_string(i + 1));
        if (!word) return std::unexpected(word.error());
        argv.push_back(std::move(*word));
    }

    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;
    const auto image = m.stat(*exe);
    if (!image || image->kind != sim::NodeKind::file) {
        return refused("no executable file at " + *exe_word);
    }
    if (crash_after) m.arm_crash_after(*crash_after);

    const EngineRun run = run_engine_process(m, *exe, cwd, argv);
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
    if (run.crashed) {
        print_line("crashed at mutating call " + std::to_string(run.crash_call));
        return kExitCrashed;
    }
    return run.exit_code;
}

}  // namespace holvar::simtool
