#include "platform/sim/sim_paths.hpp"

#include <algorithm>
#include <span>

#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using platform::Result;
using platform::win32_error;
namespace win32 = platform::win32;

namespace {

constexpr uint32_t kBadNetPath = 53;
constexpr uint32_t kCantResolveFilename = 1921;
constexpr size_t kMaxPath = 32767;

bool is_sep(char16_t c) {
    return c == u'\\' || c == u'/';
}
bool is_letter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

std::vector<std::u16string_view> split_components(std::u16string_view text, bool verbatim) {
    std::vector<std::u16string_view> out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || (verbatim ? text[i] == u'\\' : is_sep(text[i]))) {
            if (i > start || verbatim) out.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (verbatim && !out.empty() && out.back().empty()) out.pop_back();  // a trailing '\'
    return out;
}

// The root of a current directory: "C:\" or "\\server\share\".
std::u16string root_of(const std::u16string& cwd) {
    if (cwd.size() >= 2 && is_letter(cwd[0]) && cwd[1] == u':') return cwd.substr(0, 2) + u"\\";
    if (cwd.size() >= 2 && is_sep(cwd[0]) && is_sep(cwd[1])) {
        size_t server = cwd.find_first_of(u"\\/", 2);
        if (server == std::u16string::npos) return cwd + u"\\";
        size_t share = cwd.find_first_of(u"\\/", server + 1);
        if (share == std::u16string::npos) return cwd + u"\\";
        return cwd.substr(0, share + 1);
    }
    return u"C:\\";
}

// "C:\a\b" as GetFullPathNameW returns it unchanged, the common case: an
// upper-case drive, '\' alone as separator, no empty, "." or ".." component,
// none ending in '.', the last not ending in ' ' unless a '\' follows it.
bool already_full(std::u16string_view p) {
    if (p.size() < 3 || p.size() >= kMaxPath || p[0] < u'A' || p[0] > u'Z' || p[1] != u':' ||
        p[2] != u'\\')
        return false;
    size_t start = 3;
    for (size_t i = 3; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != u'\\') {
            if (p[i] == u'/' || p[i] == u'\0') return false;
            continue;
        }
        if (i == start) {
            if (i == p.size()) break;  // "C:\" or a trailing '\'
            return false;
        }
        if (p[i - 1] == u'.' || (p[i - 1] == u' ' && i == p.size())) return false;
        start = i + 1;
    }
    return true;
}

}  // namespace

// GetFullPathNameW. Observed Windows rules, which its documentation leaves
// partly unsaid: "/" is a separator; runs of separators collapse; "." goes and
// ".." removes the component before it but never eats into the root ("C:\",
// "\\server\share", "\\.\"); a component ending in a single "." loses it; the
// last component loses all trailing dots and spaces unless the path ends with
// a separator (which is kept); "C:x" is relative to the current directory when
// that is on C:, else to "C:\". A "\\?\" path keeps its prefix and is
// normalised after it like a "\\.\" path: only GetFullPathNameW does that,
// every other call takes such a path as written.
Result<std::u16string> full_path_name(std::u16string path, const std::u16string& cwd) {
    if (already_full(path)) return path;
    if (auto nul = path.find(u'\0'); nul != std::u16string::npos) path.resize(nul);
    if (path.empty()) return win32_error(win32::invalid_name);
    for (char16_t& c : path)
        if (c == u'/') c = u'\\';

    std::u16string root;       // kept verbatim, never eaten by ".."
    std::u16string base_rest;  // components from the current directory
    std::u16string rest;       // the path's own components
    if (path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' &&
        (path[2] == u'.' || path[2] == u'?') && path[3] == u'\\') {
        root = path.substr(0, 4);
        rest = path.substr(4);
    } else if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        size_t server = path.find(u'\\', 2);
        if (server == std::u16string::npos) {
            root = path;
        } else {
            size_t share = path.find(u'\\', server + 1);
            root = share == std::u16string::npos ? path : path.substr(0, share);
            if (share != std::u16string::npos) rest = path.substr(share);
        }
    } else if (path.size() >= 2 && is_letter(path[0]) && path[1] == u':') {
        std::u16string drive{static_cast<char16_t>(path[0] >= u'a' ? path[0] - 0x20 : path[0]),
                             u':'};
        root = drive + u"\\";
        if (path.size() >= 3 && path[2] == u'\\') {
            rest = path.substr(3);
        } else {
            // Drive-relative: the current directory when it is on that drive.
            if (cwd.size() >= 2 && platform::ascii_iequal(cwd.substr(0, 2), drive)) {
                base_rest = cwd.size() > 3 ? cwd.substr(3) : u"";
            }
            rest = path.substr(2);
        }
    } else if (path[0] == u'\\') {
        root = root_of(cwd);
        rest = path.substr(1);
    } else {
        root = root_of(cwd);
        base_rest = cwd.substr(std::min(cwd.size(), root.size()));
        rest = path;
    }

    bool trailing_sep = !rest.empty() && rest.back() == u'\\';
    std::vector<std::u16string_view> comps = split_components(base_rest, false);
    for (std::u16string_view c : split_components(rest, false)) {
        if (c == u".") continue;
        if (c == u"..") {
            if (!comps.empty()) comps.pop_back();
            continue;
        }
        if (c.size() >= 2 && c.back() == u'.' && c[c.size() - 2] != u'.') c.remove_suffix(1);
        comps.push_back(c);
    }
    if (!trailing_sep && !comps.empty()) {
        std::u16string_view& last = comps.back();
        while (!last.empty() && (last.back() == u'.' || last.back() == u' ')) last.remove_suffix(1);
        if (last.empty()) {
            comps.pop_back();
            trailing_sep = !comps.empty();
        }
    }
    std::u16string out = root;
    bool root_ends_with_sep = !out.empty() && out.back() == u'\\';
    for (size_t i = 0; i < comps.size(); ++i) {
        if (i > 0 || !root_ends_with_sep) out.push_back(u'\\');
        out += comps[i];
    }
    if (trailing_sep && !comps.empty()) out.push_back(u'\\');
    if (out.size() >= kMaxPath) return win32_error(win32::filename_exced_range);
    return out;
}

namespace {

struct Parsed {
    Target::Kind kind = Target::Kind::object;
    std::u16string drive;                    // "C:" (objects and volume devices)
    std::vector<std::u16string_view> comps;  // into the full path parsed
    std::u16string device;
};

Result<Parsed> parse_full(const std::u16string& full) {
    Parsed p;
    bool verbatim = full.size() >= 4 && full.compare(0, 4, u"\\\\?\\") == 0;
    bool device = full.size() >= 4 && full.compare(0, 4, u"\\\\.\\") == 0;
    std::u16string_view rest = full;
    if (verbatim || device) {
        rest.remove_prefix(4);
        if (rest.size() >= 2 && is_letter(rest[0]) && rest[1] == u':' &&
            (rest.size() == 2 || rest[2] == u'\\')) {
            p.drive = std::u16string(rest.substr(0, 2));
            if (rest.size() == 2) {  // "\\.\C:" and "\\?\C:" name the volume itself
                p.kind = Target::Kind::volume_device;
                return p;
            }
            p.comps = split_components(rest.substr(std::min<size_t>(3, rest.size())), verbatim);
            return p;
        }
        if (verbatim && rest.size() >= 3 && platform::ascii_iequal(rest.substr(0, 3), u"UNC"))
            return win32_error(kBadNetPath);
        if (device) {
            p.kind = Target::Kind::other_device;
            p.device = std::u16string(rest);
            return p;
        }
        return win32_error(win32::path_not_found);  // "\\?\Volume{...}" and other NT names
    }
    if (full.size() >= 2 && is_sep(full[0]) && is_sep(full[1])) return win32_error(kBadNetPath);
    if (full.size() >= 3 && is_letter(full[0]) && full[1] == u':' && full[2] == u'\\') {
        p.drive = full.substr(0, 2);
        p.comps = split_components(std::u16string_view(full).substr(3), false);
        return p;
    }
    return win32_error(win32::invalid_name);
}

std::optional<uint32_t> volume_by_drive(const Machine::State& s, std::u16string_view drive) {
    for (uint32_t i = 0; i < s.volumes.size(); ++i)
        if (!s.volumes[i].drive.empty() && platform::ascii_iequal(s.volumes[i].drive, drive))
            return i;
    return std::nullopt;
}

Result<Target> walk(const Machine::State& s, const std::u16string& path, const std::u16string& cwd,
                    bool follow_last, int depth);

// The full path a link's target names, seen from the link's directory.
std::u16string link_target_path(const Machine::State& s, NodeId link_parent,
                                const std::u16string& target) {
    std::u16string t = target;
    if (t.size() >= 4 && t.compare(0, 4, u"\\??\\") == 0) t = t.substr(4);
    if (platform::is_absolute_path(t)) return t;
    return platform::join_path(path_of(s, link_parent), t);
}

Result<Target> walk_components(const Machine::State& s, uint32_t volume,
                               std::span<const std::u16string_view> comps, bool verbatim,
                               const std::u16string& cwd, bool follow_last, int depth) {
    Target t;
    t.volume = volume;
    NodeId current = s.volumes.at(volume).root;
    if (comps.empty()) {
        t.parent = current;
        t.node = current;
        return t;
    }
    for (size_t i = 0; i < comps.size(); ++i) {
        const std::u16string_view name = comps[i];
        bool last = i + 1 == comps.size();
        if (verbatim && (name.empty() || name == u"." || name == u".."))
            return win32_error(win32::invalid_name);
        const Node& dir = s.live.nodes.at(current);
        if (dir.kind != NodeKind::directory) return win32_error(win32::path_not_found);
        auto child = child_of(s.live, current, name);
        if (!child) {
            if (!last) return win32_error(win32::path_not_found);
            if (!is_valid_name(name)) return win32_error(win32::invalid_name);
            t.parent = current;
            t.name = std::u16string(name);
            return t;
        }
        const Node& n = s.live.nodes.at(*child);
        bool is_link = n.kind == NodeKind::junction || n.kind == NodeKind::symlink;
        if (is_link && (!last || follow_last)) {
            if (depth >= 63) return win32_error(kCantResolveFilename);
            if (n.mounts) {
                return walk_components(s, *n.mounts, comps.subspan(i + 1), verbatim, cwd,
                                       follow_last, depth + 1);
            }
            std::u16string next = link_target_path(s, current, n.reparse_target);
            for (size_t j = i + 1; j < comps.size(); ++j)
                next = platform::join_path(next, comps[j]);
            return walk(s, next, cwd, follow_last, depth + 1);
        }
        if (last) {
            t.parent = current;
            t.name = std::u16string(name);
            t.node = *child;
            return t;
        }
        current = *child;
    }
    return t;
}

Result<Target> walk(const Machine::State& s, const std::u16string& path, const std::u16string& cwd,
                    bool follow_last, int depth) {
    // Every call but GetFullPathNameW passes a "\\?\" path through untouched.
    bool verbatim_input = path.size() >= 4 && path.compare(0, 4, u"\\\\?\\") == 0;
    auto full = verbatim_input ? Result<std::u16string>(path) : full_path_name(path, cwd);
    if (!full) return std::unexpected(full.error());
    auto parsed = parse_full(*full);
    if (!parsed) return std::unexpected(parsed.error());
    Target t;
    t.kind = parsed->kind;
    if (parsed->kind == Target::Kind::other_device) {
        t.device = parsed->device;
        return t;
    }
    auto vol = volume_by_drive(s, parsed->drive);
    if (!vol) return win32_error(win32::path_not_found);
    if (parsed->kind == Target::Kind::volume_device) {
        t.volume = *vol;
        return t;
    }
    bool verbatim = full->size() >= 4 && full->compare(0, 4, u"\\\\?\\") == 0;
    return walk_components(s, *vol, parsed->comps, verbatim, cwd, follow_last, depth);
}

}  // namespace

Result<Target> resolve_path(const Machine::State& s, const std::u16string& path,
                            const std::u16string& cwd, bool follow_last) {
    return walk(s, path, cwd, follow_last, 0);
}

std::u16string volume_root_text(const Machine::State& s, uint32_t volume) {
    const Volume& v = s.volumes.at(volume);
    if (!v.drive.empty()) return v.drive;
    return v.mount_folder;
}

namespace {

void append_names(const Machine::State& s, NodeId node, std::vector<const std::u16string*>& out) {
    // Walk up through each directory's one name to the volume root.
    NodeId id = node;
    while (true) {
        const Node& n = s.live.nodes.at(id);
        if (n.links.empty()) return;
        out.push_back(&n.links.front().name);
        id = n.links.front().parent;
    }
}

std::u16string render(const Machine::State& s, uint32_t volume,
                      std::vector<const std::u16string*> names) {
    std::u16string out = volume_root_text(s, volume);
    if (names.empty()) return out + u"\\";
    for (auto it = names.rbegin(); it != names.rend(); ++it) out += u"\\" + **it;
    return out;
}

}  // namespace

std::u16string path_of(const Machine::State& s, NodeId node) {
    const Node& n = s.live.nodes.at(node);
    std::vector<const std::u16string*> names;
    append_names(s, node, names);
    return render(s, n.volume, std::move(names));
}

std::u16string final_path_of(const Machine::State& s, NodeId node, const Link& opened_as) {
    const Node& n = s.live.nodes.at(node);
    if (n.links.empty() && s.volumes.at(n.volume).root != node) {
        static constexpr char16_t hex[] = u"0123456789abcdef";
        std::u16string id;
        for (int i = 60; i >= 0; i -= 4) id.push_back(hex[(n.file_index >> i) & 0xF]);
        return u"\\\\?\\" + volume_root_text(s, n.volume) + u"\\$Extend\\$Deleted\\" + id;
    }
    std::vector<const std::u16string*> names;
    const Link* through = &n.links.front();
    for (const Link& l : n.links)
        if (l.parent == opened_as.parent && names_equal(l.name, opened_as.name)) through = &l;
    if (!n.links.empty()) {
        names.push_back(&through->name);
        append_names(s, through->parent, names);
    }
    return u"\\\\?\\" + render(s, n.volume, std::move(names));
}

}  // namespace holvar::sim
