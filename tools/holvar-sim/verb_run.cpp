// `run`: the engine as a process of the simulated machine. The process is
// spawned with an elevated administrator's token and the given image path,
// runs the real engine, and then ends with the engine's exit code, so what it
// still owns (the transaction mutex) is released the way Windows releases it:
// abandoned.
#include "installer/entry.hpp"
#include "machine_file.hpp"
#include "printing.hpp"
#include "run_trace.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

struct EngineRun {
    int exit_code = 0;
    bool crashed = false;
    uint64_t crash_call = 0;
    RunTrace trace;
};

// The root the engine was given ("--root" and the word after it), for the trace.
std::u16string root_argument(const std::vector<std::u16string>& argv) {
    for (size_t i = 1; i + 1 < argv.size(); ++i)
        if (argv[i] == u"--root") return argv[i + 1];
    return u"";
}

EngineRun run_engine_process(sim::Machine& machine, const std::u16string& exe,
                             const std::optional<std::u16string>& cwd,
                             const std::vector<std::u16string>& argv) {
    const uint32_t pid = cwd ? machine.spawn_process(exe, sim::admin_token(), *cwd)
                             : machine.spawn_process(exe, sim::admin_token());
    EngineRun result;
    try {
        sim::ProcessOs process(machine, pid);
        platform::Os& os = process.os();
        TracingFiles files(os.files, machine, root_argument(argv), result.trace);
        platform::Os traced{files,       os.security,        os.sync,
                            os.clock,    os.processes,       os.services,
                            os.registry, os.restart_manager, os.pipes};
        result.exit_code = installer::run_engine(traced, argv);
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

using sim::FaultRule;

// "--fail CALL:CODE": every call of that name fails with that Win32 error
// for the whole run (what a disk, a driver or a policy that keeps refusing
// does). The rule lives for this run only; the machine file keeps none.
ToolResult<std::vector<FaultRule>> fault_options(const VerbArgs& args) {
    std::vector<FaultRule> rules;
    const auto word = args.option("--fail");
    if (!word) return rules;
    const size_t colon = word->find(':');
    if (colon == std::string::npos || colon == 0) return usage("--fail takes CALL:CODE");
    auto code = number_arg(word->substr(colon + 1), "--fail's code");
    if (!code) return std::unexpected(code.error());
    rules.push_back(FaultRule{std::nullopt, word->substr(0, colon), *code, false});
    return rules;
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
    const auto crash_after = count_option(args, "--crash-after");
    if (!crash_after) return std::unexpected(crash_after.error());
    const auto faults = fault_options(args);
    if (!faults) return std::unexpected(faults.error());
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
    if (*crash_after) m.arm_crash_after(**crash_after);
    for (const FaultRule& rule : *faults) m.add_fault(rule);

    const EngineRun run = run_engine_process(m, *exe, cwd, argv);
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
    if (args.has("--trace"))
        print_line("journal marks: " + marks_text(run.trace) +
                   "; moved by handle: " + std::to_string(run.trace.moved) +
                   "; payload bytes copied: " + std::to_string(run.trace.bytes_copied));
    if (run.crashed) {
        print_line("crashed at mutating call " + std::to_string(run.crash_call));
        return kExitCrashed;
    }
    return run.exit_code;
}

}  // namespace holvar::simtool
