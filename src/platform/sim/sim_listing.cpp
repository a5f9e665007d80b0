// Directory listings and volume queries.
#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using namespace platform;
namespace {

constexpr uint32_t kDirNotRoot = 144;

FindData entry_of(const Node& n, std::u16string name) {
    FindData d;
    d.file_attributes = node_attributes(n);
    d.reserved0 = reparse_tag(n);
    d.file_size = n.kind == NodeKind::file ? n.data.size() : 0;
    d.file_name = std::move(name);
    return d;
}

}  // namespace

// FindFirstFileExW/FindNextFileW: the directory part is opened as any path
// (links followed); entries come in NTFS's order (by upcased name), "." and
// ".." first except in a volume's root; no match at all is ERROR_FILE_NOT_FOUND.
Result<std::vector<FindData>> sim_find_files(Caller& c, const std::u16string& pattern) {
    Machine::State& s = c.s;
    size_t cut = pattern.find_last_of(u"\\/");
    std::u16string dir =
        cut == std::u16string::npos ? std::u16string(u".") : pattern.substr(0, cut + 1);
    std::u16string mask = cut == std::u16string::npos ? pattern : pattern.substr(cut + 1);
    if (mask.empty()) return win32_error(win32::file_not_found);
    auto t = resolve_path(s, dir, c.process().current_directory, true);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object || !t->node) return win32_error(win32::path_not_found);
    const Node& d = s.live.nodes.at(*t->node);
    if (d.kind != NodeKind::directory) return win32_error(win32::path_not_found);
    if (!access_allowed(s, c.process().token, *t->node, t->parent, FILE_LIST_DIRECTORY))
        return win32_error(win32::access_denied);
    std::vector<FindData> out;
    if (s.volumes.at(d.volume).root != *t->node) {
        // "." is the directory itself; ".." is reported as a plain directory.
        if (wildcard_match(mask, u".")) out.push_back(entry_of(d, u"."));
        if (wildcard_match(mask, u"..")) {
            out.push_back(entry_of(d, u".."));
            out.back().file_attributes = FILE_ATTRIBUTE_DIRECTORY;
            out.back().reserved0 = 0;
        }
    }
    for (const auto& [folded, id] : d.children) {
        const Node& n = s.live.nodes.at(id);
        for (const Link& l : n.links) {
            if (l.parent != *t->node || fold_name(l.name) != folded) continue;
            if (wildcard_match(mask, l.name)) out.push_back(entry_of(n, l.name));
        }
    }
    if (out.empty()) return win32_error(win32::file_not_found);
    return out;
}

// GetVolumePathNameW: the mount point of the volume holding a path, found by
// walking the path's existing directories for folder mounts, with its
// trailing backslash ("C:\", "C:\mnt\data\").
Result<std::u16string> sim_get_volume_path_name(Caller& c, const std::u16string& path,
                                                uint32_t buffer_units) {
    Machine::State& s = c.s;
    auto full = full_path_name(path, c.process().current_directory);
    if (!full) return std::unexpected(full.error());
    std::u16string_view text = *full;
    std::u16string verbatim;
    if (text.substr(0, 4) == u"\\\\?\\") {
        verbatim = u"\\\\?\\";
        text.remove_prefix(4);
    }
    PathParts parts = split_path(text);
    std::u16string result;
    if (parts.prefix_kind == PathPrefix::drive) {
        result = parts.prefix + u"\\";
        std::optional<uint32_t> vol;
        for (uint32_t i = 0; i < s.volumes.size(); ++i)
            if (ascii_iequal(s.volumes[i].drive, parts.prefix)) vol = i;
        if (vol) {
            NodeId cur = s.volumes[*vol].root;
            std::u16string walked = parts.prefix;
            for (const auto& comp : parts.components) {
                auto child = child_of(s.live, cur, comp);
                if (!child) break;
                const Node& n = s.live.nodes.at(*child);
                walked += u"\\" + n.links.front().name;
                if (n.mounts) {
                    result = walked + u"\\";
                    cur = s.volumes.at(*n.mounts).root;
                } else if (n.kind == NodeKind::directory) {
                    cur = *child;
                } else {
                    break;
                }
            }
        }
    } else if (parts.prefix_kind == PathPrefix::unc) {
        result = parts.prefix + u"\\";
    } else {
        return win32_error(win32::invalid_name);
    }
    result = verbatim + result;
    if (result.size() + 1 > buffer_units) return win32_error(win32::filename_exced_range);
    return result;
}

// GetVolumeInformationW: the root must be given with its trailing backslash
// and be a volume's root or a folder mount point.
Result<uint32_t> sim_get_volume_file_system_flags(Caller& c, const std::u16string& root) {
    Machine::State& s = c.s;
    if (root.empty() || root.back() != u'\\') return win32_error(win32::invalid_name);
    auto t = resolve_path(s, root, c.process().current_directory, false);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object || !t->node) return win32_error(win32::path_not_found);
    const Node& n = s.live.nodes.at(*t->node);
    if (n.mounts) return s.volumes.at(*n.mounts).flags;
    if (s.volumes.at(t->volume).root == *t->node) return s.volumes.at(t->volume).flags;
    return win32_error(kDirNotRoot);
}

}  // namespace holvar::sim
