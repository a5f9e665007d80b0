// The file-system verbs: look at objects (cat, ls) and set up the cases the
// engine must cope with (a user-owned directory, a junction, a planted file).
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine_image.hpp"
#include "machine_file.hpp"
#include "platform/sim/user_hands.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

// The machine file, loaded, with the verb's Windows path argument.
struct Target {
    std::unique_ptr<sim::Machine> machine;
    std::u16string path;
};

ToolResult<Target> load_with_path(const VerbArgs& args) {
    auto path = windows_path_arg(args.positionals[1], "WINPATH");
    if (!path) return std::unexpected(path.error());
    auto machine = load_machine(args.positionals[0]);
    if (!machine) return std::unexpected(machine.error());
    return Target{std::move(*machine), std::move(*path)};
}

ToolResult<int> save(const Target& target, const VerbArgs& args) {
    if (auto saved = save_machine(*target.machine, args.positionals[0]); !saved) {
        return std::unexpected(saved.error());
    }
    return kExitOk;
}

ToolResult<std::vector<uint8_t>> file_bytes(const VerbArgs& args) {
    const int sources = (args.option("--from") ? 1 : 0) + (args.option("--text") ? 1 : 0) +
                        (args.has("--engine") ? 1 : 0);
    if (sources != 1) return usage("give exactly one of --from, --text, --engine");
    if (args.has("--engine")) return engine_image_bytes();
    if (const auto text = args.option("--text")) {
        return std::vector<uint8_t>(text->begin(), text->end());
    }
    const std::string from = *args.option("--from");
    std::ifstream in(from, std::ios::binary);
    if (!in || std::filesystem::is_directory(from)) return usage("cannot read " + from);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

// `--as user`: the action is an ordinary user's, checked against the DACLs
// like any call of theirs; without it the verb sets the machine up as an
// administrator at the console would, unchecked.
ToolResult<bool> as_user(const VerbArgs& args) {
    const auto who = args.option("--as");
    if (!who) return false;
    if (*who != "user") return usage("--as '" + *who + "' is not 'user'");
    if (args.option("--owner")) return usage("--owner and --as user do not go together");
    return true;
}

// Does `action` with the user's hands and saves the machine, or says what
// the machine refused.
template <class Action>
ToolResult<int> by_user(Target& target, const VerbArgs& args, std::string_view refused,
                        Action action) {
    {
        sim::UserHands hands(*target.machine);
        if (platform::Status done = action(hands); !done)
            return machine_refused(refused, target.path, done.error());
    }
    return save(target, args);
}

}  // namespace

ToolResult<int> verb_cat(const VerbArgs& args) {
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    const auto bytes = target->machine->read_file(target->path);
    if (!bytes) return machine_refused("cannot read", target->path, bytes.error());
    print_bytes(*bytes);
    return kExitOk;
}

ToolResult<int> verb_ls(const VerbArgs& args) {
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    const auto entries = target->machine->list(target->path);
    if (!entries) return machine_refused("cannot list", target->path, entries.error());
    for (const auto& entry : *entries) print_line(node_line(entry));
    return kExitOk;
}

ToolResult<int> verb_mkdir(const VerbArgs& args) {
    const auto user = as_user(args);
    if (!user) return std::unexpected(user.error());
    const auto owner = owner_arg(args.option("--owner"), administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (*user)
        return by_user(*target, args, "cannot create",
                       [&](sim::UserHands& hands) { return hands.make_directory(target->path); });
    if (auto made = target->machine->make_directory(target->path, *owner); !made) {
        return machine_refused("cannot create", target->path, made.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_write(const VerbArgs& args) {
    const auto user = as_user(args);
    if (!user) return std::unexpected(user.error());
    const auto owner = owner_arg(args.option("--owner"), administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    const auto bytes = file_bytes(args);
    if (!bytes) return std::unexpected(bytes.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (*user)
        return by_user(*target, args, "cannot write", [&](sim::UserHands& hands) {
            return hands.write_file(target->path, *bytes);
        });
    if (auto written = target->machine->write_file(target->path, *bytes, *owner); !written) {
        return machine_refused("cannot write", target->path, written.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_chown(const VerbArgs& args) {
    const auto owner = owner_arg(args.positionals[2], administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (auto changed = target->machine->set_owner(target->path, *owner); !changed) {
        return machine_refused("cannot change the owner of", target->path, changed.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_junction(const VerbArgs& args) {
    const auto user = as_user(args);
    if (!user) return std::unexpected(user.error());
    const auto owner = owner_arg(args.option("--owner"), administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    const auto link_target = windows_path_arg(args.positionals[2], "TARGET");
    if (!link_target) return std::unexpected(link_target.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (*user)
        return by_user(*target, args, "cannot create", [&](sim::UserHands& hands) {
            return hands.make_junction(target->path, *link_target);
        });
    if (auto made = target->machine->make_junction(target->path, *link_target, *owner); !made) {
        return machine_refused("cannot create", target->path, made.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_rm(const VerbArgs& args) {
    const auto user = as_user(args);
    if (!user) return std::unexpected(user.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (*user)
        return by_user(*target, args, "cannot remove",
                       [&](sim::UserHands& hands) { return hands.remove(target->path); });
    if (auto removed = target->machine->remove(target->path); !removed) {
        return machine_refused("cannot remove", target->path, removed.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_link(const VerbArgs& args) {
    const auto user = as_user(args);
    if (!user) return std::unexpected(user.error());
    const auto existing = windows_path_arg(args.positionals[2], "EXISTING");
    if (!existing) return std::unexpected(existing.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (*user)
        return by_user(*target, args, "cannot link", [&](sim::UserHands& hands) {
            return hands.make_hard_link(target->path, *existing);
        });
    if (auto made = target->machine->make_hard_link(target->path, *existing); !made) {
        return machine_refused("cannot link", target->path, made.error());
    }
    return save(*target, args);
}

}  // namespace holvar::simtool
