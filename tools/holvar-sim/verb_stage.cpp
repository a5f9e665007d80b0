// `stage`: what the product's setup program prepares before it starts the
// engine: the stage directory beside the root with the payload and the
// engine's executable, and the diagnostics directory, all owned by
// BUILTIN\Administrators as an elevated setup program leaves them.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "demo_payloads.hpp"
#include "engine_image.hpp"
#include "machine_file.hpp"
#include "platform/win_path.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

namespace fs = std::filesystem;

std::string random_txid() {
    std::random_device device;
    std::array<uint8_t, 16> bytes{};
    for (auto& b : bytes) b = static_cast<uint8_t>(device());
    return file_id_hex(bytes);
}

// 32 hexadecimal digits. Upper case is let through on purpose: a setup program
// can get it wrong, and the engine must be seen to refuse such a stage.
bool is_hex32(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

ToolResult<std::vector<uint8_t>> read_real_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return usage("cannot read " + file.string());
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) return usage("cannot read " + file.string());
    return bytes;
}

// Copies a real folder into the machine, in name order so that file ids come
// out the same on every run. Links in the real folder are refused, not followed.
ToolResult<void> copy_folder(sim::Machine& machine, const fs::path& from,
                             const std::u16string& to) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    if (ec) return usage("cannot list " + from.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& entry : entries) {
        const auto name = wide_arg(entry.path().filename().string(), "payload name");
        if (!name) return std::unexpected(name.error());
        const std::u16string target = platform::join_path(to, *name);
        const auto status = entry.symlink_status(ec);
        if (ec) return usage("cannot read " + entry.path().string() + ": " + ec.message());
        if (fs::is_symlink(status)) {
            return usage("payload holds a symbolic link: " + entry.path().string());
        }
        if (fs::is_directory(status)) {
            if (auto made = machine.make_directory(target, administrators_sid()); !made) {
                return machine_refused("cannot create", target, made.error());
            }
            if (auto copied = copy_folder(machine, entry.path(), target); !copied) return copied;
        } else if (fs::is_regular_file(status)) {
            auto bytes = read_real_file(entry.path());
            if (!bytes) return std::unexpected(bytes.error());
            if (auto made = machine.write_file(target, *bytes, administrators_sid()); !made) {
                return machine_refused("cannot write", target, made.error());
            }
        } else {
            return usage("payload holds something that is neither file nor folder: " +
                         entry.path().string());
        }
    }
    return {};
}

// Writes a demo payload into the machine, each folder created as its first
// file needs it, so that file ids come out the same on every run.
ToolResult<void> write_demo_payload(sim::Machine& machine, const std::vector<DemoFile>& files,
                                    const std::u16string& to) {
    for (const DemoFile& file : files) {
        const std::u16string target =
            platform::join_path(to, std::u16string(file.path.begin(), file.path.end()));
        if (auto made =
                make_directories(machine, *platform::parent_path(target), administrators_sid());
            !made) {
            return made;
        }
        if (auto written = machine.write_file(target, file.bytes, administrators_sid()); !written) {
            return machine_refused("cannot write", target, written.error());
        }
    }
    return {};
}

std::string demo_names() {
    std::string names;
    for (const auto name : demo_payload_names()) {
        names += (names.empty() ? "" : ", ") + std::string(name);
    }
    return names;
}

}  // namespace

ToolResult<int> verb_stage(const VerbArgs& args) {
    const auto root_word = args.option("--root");
    if (!root_word) return usage("--root is required");
    const auto root = windows_path_arg(*root_word, "--root");
    if (!root) return std::unexpected(root.error());
    const std::string txid = args.option("--txid").value_or(random_txid());
    if (!is_hex32(txid)) return usage("--txid must be 32 hexadecimal digits");
    const auto payload_dir = args.option("--payload");
    if (payload_dir && !fs::is_directory(*payload_dir)) {
        return usage("--payload " + *payload_dir + " is not a folder");
    }
    const auto demo_name = args.option("--demo-payload");
    if (payload_dir && demo_name) return usage("give at most one of --payload, --demo-payload");
    std::optional<std::vector<DemoFile>> demo;
    if (demo_name) {
        demo = demo_payload(*demo_name);
        if (!demo)
            return usage("unknown demo payload '" + *demo_name + "' (one of " + demo_names() + ")");
    }
    const auto parent = platform::parent_path(*root);
    if (!parent) return usage("--root has no parent directory");

    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;

    const std::u16string stage =
        platform::join_path(*parent, u".Holvar-upgrade-" + *wide_arg(txid, "--txid"));
    const std::u16string payload = platform::join_path(stage, u"payload");
    const std::u16string engine = platform::join_path(stage, kEngineFileName);
    const std::u16string diagnostics = platform::join_path(*parent, u"Holvar-Install-Diagnostics");

    if (m.exists(stage))
        return refused("the stage directory exists already: " + utf16_to_wtf8(stage));
    if (auto made = make_directories(m, *parent, administrators_sid()); !made) {
        return std::unexpected(made.error());
    }
    for (const auto& dir : {stage, payload}) {
        if (auto made = m.make_directory(dir, administrators_sid()); !made) {
            return machine_refused("cannot create", dir, made.error());
        }
    }
    if (payload_dir) {
        if (auto copied = copy_folder(m, *payload_dir, payload); !copied) {
            return std::unexpected(copied.error());
        }
    }
    if (demo) {
        if (auto written = write_demo_payload(m, *demo, payload); !written) {
            return std::unexpected(written.error());
        }
    }
    if (auto written = m.write_file(engine, engine_image_bytes(), administrators_sid()); !written) {
        return machine_refused("cannot write", engine, written.error());
    }
    // The diagnostics directory is shared by every transaction beside this
    // root: one that exists already is left exactly as it is.
    if (!m.exists(diagnostics)) {
        if (auto made = m.make_directory(diagnostics, administrators_sid()); !made) {
            return machine_refused("cannot create", diagnostics, made.error());
        }
    }
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());

    print_line("txid " + txid);
    print_line("stage " + utf16_to_wtf8(stage));
    print_line("diagnostics " + utf16_to_wtf8(diagnostics));
    if (demo) print_line("payload " + *demo_name + ": " + std::to_string(demo->size()) + " files");
    print_line(utf16_to_wtf8(engine));
    return kExitOk;
}

}  // namespace holvar::simtool
