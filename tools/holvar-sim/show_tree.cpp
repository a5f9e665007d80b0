#include <algorithm>
#include <utility>
#include <vector>

#include "platform/win_path.hpp"
#include "printing.hpp"
#include "show_views.hpp"
#include "verb_support.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

struct TreeLine {
    std::u16string rel;
    std::string line;
};

// Collects the objects below `path`; the first folder that cannot be listed
// ends the walk with the machine's error.
ToolResult<void> walk(const sim::Machine& machine, const std::u16string& path,
                      const std::u16string& prefix, std::vector<TreeLine>& out) {
    const auto entries = machine.list(path);
    if (!entries) return machine_refused("cannot list", path, entries.error());
    for (const auto& entry : *entries) {
        const std::u16string rel = prefix + entry.name;
        std::string line = kind_name(entry.kind) + " " + file_id_hex(entry.file_id) + " " +
                           std::to_string(entry.size) + " " + utf16_to_wtf8(rel);
        if (entry.kind == sim::NodeKind::junction || entry.kind == sim::NodeKind::symlink) {
            line += " -> " + utf16_to_wtf8(entry.reparse_target);
        }
        out.push_back({rel, std::move(line)});
        if (entry.kind != sim::NodeKind::directory) continue;
        if (auto below = walk(machine, platform::join_path(path, entry.name), rel + u"\\", out);
            !below) {
            return below;
        }
    }
    return {};
}

}  // namespace

ToolResult<int> show_tree(const sim::Machine& machine, const std::u16string& folder) {
    std::vector<TreeLine> lines;
    if (auto walked = walk(machine, folder, u"", lines); !walked) {
        return std::unexpected(walked.error());
    }
    // The order in which the planner keys relative paths.
    std::sort(lines.begin(), lines.end(), [](const TreeLine& a, const TreeLine& b) {
        return platform::ascii_icompare(a.rel, b.rel) < 0;
    });
    for (const auto& line : lines) print_line(line.line);
    return kExitOk;
}

}  // namespace holvar::simtool
