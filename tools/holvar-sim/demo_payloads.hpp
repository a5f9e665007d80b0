// The demo payloads: complete runtimes built from simulated programs and data
// files, the same bytes on every run, so that the demo, the tests and later
// tools stage exactly the same trees.
//
//   v1           the first release: the service (well-behaved: it serves its
//                v3 pipe and makes its data and log folders under the root),
//                the client (exits 0), the engine, the uninstaller (a plain
//                file) and a few dozen data files in nested folders
//   v2           an upgrade of v1: files changed (the service's build among
//                them), added and dropped, and the folder lib\legacy dropped
//   v2-broken    v2 with a service that answers with protocol 2, so the
//                verification of the started service fails
//   v3-reshaped  v2 with the file LICENSE turned into a folder and the folder
//                assets\sounds turned into a file
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace holvar::simtool {

struct DemoFile {
    std::string path;  // relative to the payload folder, components joined with "\", ASCII
    std::vector<uint8_t> bytes;
};

// "v1", "v2", "v2-broken", "v3-reshaped".
std::span<const std::string_view> demo_payload_names();

// Every file of the named payload, ordered by path with ASCII case folding (the
// order in which the planner keys them); none for an unknown name. Folders are
// the ones the paths imply: a demo payload has no empty folder.
std::optional<std::vector<DemoFile>> demo_payload(std::string_view name);

}  // namespace holvar::simtool
