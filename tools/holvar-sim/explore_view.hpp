// What the explorer holds a machine to: every object under the root (kind,
// file id, contents), the service (configuration and run state), the
// registry, and the names beside the root; and where every file of the
// machine is, by file id.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/machine.hpp"

namespace holvar::simtool {

struct MachineView {
    std::map<std::u16string, std::string> tree;  // rel -> "kind id [contents]"
    std::string service;                         // "absent" or configuration and run state
    std::map<std::u16string, std::string> registry;
    std::vector<std::u16string> parent;  // names beside the root, stage directories left out
    friend bool operator==(const MachineView&, const MachineView&) = default;
};

// What the service makes under the root gets new ids in every run that
// starts it: those items are compared by kind alone. So are the folders a
// run made (their index on the volume `dirs_made_from` or later): a folder
// the engine makes afresh has no identity anyone keeps, and its number only
// says how many objects were made before it; the files in it keep theirs.
MachineView view_of(const sim::Machine& machine, const std::u16string& root,
                    uint64_t dirs_made_from = UINT64_MAX);

// A 128-bit digest of a view: two views alike have the same digest, and
// taking it from the machine costs less than taking the view.
struct ViewDigest {
    uint64_t a = 0;
    uint64_t b = 0;
    friend bool operator==(const ViewDigest&, const ViewDigest&) = default;
};
ViewDigest view_digest(const sim::Machine& machine, const std::u16string& root,
                       uint64_t dirs_made_from = UINT64_MAX);
ViewDigest digest_of(const MachineView& view);

// The index the next object made on the root's volume gets.
uint64_t next_object_index(const sim::Machine& machine, const std::u16string& root);

// The lines on which two views differ, "-" for `expected`, "+" for `actual`,
// at most `limit` of them.
std::vector<std::string> view_diff(const MachineView& expected, const MachineView& actual,
                                   size_t limit = 12);

using FileId = std::array<uint8_t, 16>;

// The ids of every file below each of `dirs` (links not followed).
std::set<FileId> file_ids_below(const sim::Machine& machine,
                                const std::vector<std::u16string>& dirs);

}  // namespace holvar::simtool
