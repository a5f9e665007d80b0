// `explain`: a journal (txn.json) or an outcome report in plain words, for the
// support engineer in front of a broken machine. The reading and the wording
// are holvar-explain.exe's own: on the host the file is read here and the
// machine is not asked; with --machine a process of the simulated machine
// reads the file and asks the machine, as holvar-explain.exe does on Windows.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "explain/explanation.hpp"
#include "explain/read_file.hpp"
#include "explain/render.hpp"
#include "machine_file.hpp"
#include "platform/sim/machine.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

// The image of the explaining process; where it lives does not matter.
constexpr std::u16string_view kExplainImage = u"C:\\Windows\\System32\\holvar-explain.exe";

// A file of the host; a stage directory stands for the journal in it.
ToolResult<std::string> read_host_file(const std::string& path) {
    std::error_code ec;
    const bool stage = std::filesystem::is_directory(path, ec);
    const std::filesystem::path file =
        stage ? std::filesystem::path(path) / "journal" / "txn.json" : std::filesystem::path(path);
    if (stage && !std::filesystem::exists(file, ec))
        return usage(explain::no_journal(path).message);
    std::ifstream in(file, std::ios::binary);
    if (!in) return usage("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ToolResult<int> show(const std::expected<explain::Explanation, explain::Unexplained>& explained,
                     bool as_json) {
    if (!explained) return usage(explained.error().message);
    const std::string text =
        as_json ? explain::render_json(*explained) : explain::render_text(*explained);
    print_bytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return kExitOk;
}

}  // namespace

ToolResult<int> verb_explain(const VerbArgs& args) {
    const std::string& path = args.positionals[0];
    const bool as_json = args.has("--json");
    const auto machine_file = args.option("--machine");
    if (!machine_file) {
        auto bytes = read_host_file(path);
        if (!bytes) return std::unexpected(bytes.error());
        return show(explain::explain_bytes(*bytes, path, nullptr), as_json);
    }

    auto loaded = load_machine(*machine_file);
    if (!loaded) return std::unexpected(loaded.error());
    sim::Machine& machine = **loaded;
    const auto winpath = windows_path_arg(path, "PATH");
    if (!winpath) return std::unexpected(winpath.error());
    // An administrator's process reads and asks; the machine file is never
    // saved, and the explanation changes nothing it could save anyway.
    const uint32_t pid = machine.spawn_process(std::u16string(kExplainImage), sim::admin_token());
    ToolResult<int> result = kExitOk;
    {
        sim::ProcessOs process(machine, pid);
        platform::Os& os = process.os();
        auto bytes = explain::read_explained_file(os, *winpath, path);
        result = bytes ? show(explain::explain_bytes(*bytes, path, &os), as_json)
                       : usage(bytes.error().message);
    }
    machine.exit_process(pid, 0);
    return result;
}

}  // namespace holvar::simtool
