// Paths on the simulated machine: GetFullPathNameW's normalisation, and the
// walk from a path to an object (the object manager and NTFS together).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/sim/machine_state.hpp"

namespace holvar::sim {

// GetFullPathNameW against a current directory.
platform::Result<std::u16string> full_path_name(std::u16string path,
                                                const std::u16string& current_directory);

// Where a path leads.
struct Target {
    enum class Kind : uint8_t { object, volume_device, other_device } kind = Kind::object;
    uint32_t volume = 0;
    NodeId parent = 0;           // the directory that holds (or would hold) the name
    std::u16string name;         // the last name as written ("" for a volume root)
    std::optional<NodeId> node;  // the object, when it exists
    std::u16string device;       // other_device: the name after "\\.\"
};

// Resolves a path the way CreateFileW does: a path without "\\?\" is first
// made full; reparse points are followed in every intermediate component, and
// in the last one when `follow_last`. Errors: 3 for a missing or non-directory
// intermediate component, 123 for a bad name, 53 for network paths, 1921 when
// links nest too deep.
platform::Result<Target> resolve_path(const Machine::State& s, const std::u16string& path,
                                      const std::u16string& current_directory, bool follow_last);

// "\\?\C:\dir\name" for an object, through the name it was opened by when
// that name still exists. A deleted object reads as under "\$Extend\$Deleted".
std::u16string final_path_of(const Machine::State& s, NodeId node, const Link& opened_as);
// "C:" or the mount folder of a volume (empty when it has neither).
std::u16string volume_root_text(const Machine::State& s, uint32_t volume);
// The Windows path of an object's first name, without "\\?\".
std::u16string path_of(const Machine::State& s, NodeId node);

}  // namespace holvar::sim
