// `stage`: what the product's setup program prepares before it starts the
// engine: the stage directory beside the root with the payload and the
// engine's executable, and the diagnostics directory, all owned by
// BUILTIN\Administrators as an elevated setup program leaves them.
#include <algorithm>
#include <array>
#include <filesystem>
#include <random>

#include "demo_payloads.hpp"
#include "engine_image.hpp"
#include "machine_file.hpp"
#include "platform/win_path.hpp"
#include "printing.hpp"
#include "staging.hpp"
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
    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;

    std::optional<PayloadSource> source;
    if (payload_dir) source = PayloadSource{*payload_dir, std::nullopt};
    if (demo) source = PayloadSource{std::nullopt, *demo};
    // Without a payload the stage still has its (empty) payload folder.
    if (!source) source = PayloadSource{};
    const auto staged = stage_transaction(m, *root, txid, source);
    if (!staged) return std::unexpected(staged.error());
    const std::u16string& stage = staged->stage;
    const std::u16string& engine = staged->engine;
    const std::u16string& diagnostics = staged->diagnostics;
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());

    print_line("txid " + txid);
    print_line("stage " + utf16_to_wtf8(stage));
    print_line("diagnostics " + utf16_to_wtf8(diagnostics));
    if (demo) print_line("payload " + *demo_name + ": " + std::to_string(demo->size()) + " files");
    print_line(utf16_to_wtf8(engine));
    return kExitOk;
}

}  // namespace holvar::simtool
