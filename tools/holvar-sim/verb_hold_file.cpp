// `hold-file`: another program that keeps a file open, the way an editor, a
// virus scanner or a user's shell window does, so that the engine meets a
// sharing violation when it renames or deletes that file. The holder is a
// process of the machine file with its own handle; it stays until `kill`, a
// reboot or, with --for-ms, until that much virtual time has passed.
#include "machine_file.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/user_hands.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

// The image the Restart Manager and `show` name for the holder.
constexpr std::u16string_view kHolderImage = u"C:\\Windows\\System32\\holder.exe";

// What the holder lets others do with the file while it is open.
ToolResult<uint32_t> share_arg(const std::optional<std::string>& word) {
    using namespace platform;
    if (!word || *word == "r") return FILE_SHARE_READ;
    if (*word == "rw") return FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (*word == "rwd") return FILE_SHARE_ALL;
    if (*word == "none") return 0u;
    return usage("--share '" + *word + "' is not one of r, rw, rwd, none");
}

}  // namespace

ToolResult<int> verb_hold_file(const VerbArgs& args) {
    const auto path = windows_path_arg(args.positionals[1], "WINPATH");
    if (!path) return std::unexpected(path.error());
    const auto share = share_arg(args.option("--share"));
    if (!share) return std::unexpected(share.error());
    const auto for_ms = count_option(args, "--for-ms");
    if (!for_ms) return std::unexpected(for_ms.error());
    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;

    const auto who = args.option("--as");
    if (who && *who != "user") return usage("--as '" + *who + "' is not 'user'");
    if (who) {
        // An ordinary user's program: it opens only what the DACLs let it.
        auto held = sim::UserHands(m).hold(*path, *share);
        if (!held) return machine_refused("cannot open", *path, held.error());
        if (*for_ms) sim::exit_after(m.state(), *held, **for_ms, 0);
        if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
        print_line("holding " + utf16_to_wtf8(*path) + " as an ordinary user's process");
        print_line(std::to_string(*held));
        return kExitOk;
    }
    // An ordinary program reading the file: it follows links, and a folder
    // opens as well as a file.
    const uint32_t pid = m.spawn_process(std::u16string(kHolderImage), sim::admin_token());
    {
        sim::ProcessOs process(m, pid);
        auto handle = process.os().files.create_file(*path, platform::GENERIC_READ, *share,
                                                     platform::OPEN_EXISTING,
                                                     platform::FILE_FLAG_BACKUP_SEMANTICS);
        // Nothing is saved on failure: the machine file stays as it was.
        if (!handle) return machine_refused("cannot open", *path, handle.error());
        leave_open(std::move(*handle));
    }
    if (*for_ms) sim::exit_after(m.state(), pid, **for_ms, 0);
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
    print_line(
        "holding " + utf16_to_wtf8(*path) + " (share " + args.option("--share").value_or("r") +
        (*for_ms ? ", for " + std::to_string(**for_ms) + " ms" : std::string()) + ") as process");
    print_line(std::to_string(pid));
    return kExitOk;
}

}  // namespace holvar::simtool
