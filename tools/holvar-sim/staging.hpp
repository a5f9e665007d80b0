// What the product's setup program prepares before it starts the engine: the
// stage directory beside the root with the payload and the engine's
// executable, and the diagnostics directory, all owned by
// BUILTIN\Administrators as an elevated setup program leaves them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "demo_payloads.hpp"
#include "platform/sim/machine.hpp"
#include "tool_error.hpp"

namespace holvar::simtool {

// Where a payload comes from: a real folder, or the files of a demo payload.
struct PayloadSource {
    std::optional<std::filesystem::path> folder;
    std::optional<std::vector<DemoFile>> files;
};

struct StagePaths {
    std::u16string stage;        // <parent>\.Holvar-upgrade-<txid>
    std::u16string engine;       // <stage>\holvar-service-install.exe
    std::u16string diagnostics;  // <parent>\Holvar-Install-Diagnostics
};

// The folders and files a stage for `txid` beside `root` is made of.
StagePaths stage_paths(const std::u16string& root, const std::string& txid);

// Makes the stage with the payload (none: the engine alone, as for a
// removal) and the diagnostics directory, which is left as it is when it
// exists. A stage directory that exists already is refused.
ToolResult<StagePaths> stage_transaction(sim::Machine& machine, const std::u16string& root,
                                         const std::string& txid,
                                         const std::optional<PayloadSource>& payload);

// "v1", or a real folder: the payload a word names.
ToolResult<PayloadSource> payload_named(const std::string& word);

}  // namespace holvar::simtool
