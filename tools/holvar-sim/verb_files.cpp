// The file-system verbs: look at objects (cat, ls) and set up the cases the
// engine must cope with (a user-owned directory, a junction, a planted file).
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine_image.hpp"
#include "machine_file.hpp"
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
    const auto owner = owner_arg(args.option("--owner"), administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (auto made = target->machine->make_directory(target->path, *owner); !made) {
        return machine_refused("cannot create", target->path, made.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_write(const VerbArgs& args) {
    const auto owner = owner_arg(args.option("--owner"), administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    const auto bytes = file_bytes(args);
    if (!bytes) return std::unexpected(bytes.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
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
    const auto owner = owner_arg(args.option("--owner"), administrators_sid());
    if (!owner) return std::unexpected(owner.error());
    const auto link_target = windows_path_arg(args.positionals[2], "TARGET");
    if (!link_target) return std::unexpected(link_target.error());
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (auto made = target->machine->make_junction(target->path, *link_target, *owner); !made) {
        return machine_refused("cannot create", target->path, made.error());
    }
    return save(*target, args);
}

ToolResult<int> verb_rm(const VerbArgs& args) {
    auto target = load_with_path(args);
    if (!target) return std::unexpected(target.error());
    if (auto removed = target->machine->remove(target->path); !removed) {
        return machine_refused("cannot remove", target->path, removed.error());
    }
    return save(*target, args);
}

}  // namespace holvar::simtool
