// Renames, deletions and links: by handle (FileRenameInfoEx,
// FileDispositionInfoEx), by path (MoveFileExW) and CreateHardLinkW.
#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using namespace platform;
namespace {

constexpr uint32_t kTooManyLinks = 1142;

bool is_posix_volume(const Machine::State& s, uint32_t volume) {
    return (s.volumes.at(volume).flags & FILE_SUPPORTS_POSIX_UNLINK_RENAME) != 0;
}

// The name a handle acts on: the one it was opened by, while it still exists.
Link acting_link(const Node& n, const Link& opened_as) {
    for (const Link& l : n.links)
        if (l.parent == opened_as.parent && names_equal(l.name, opened_as.name)) return l;
    return n.links.front();
}

bool lies_inside(const Machine::State& s, NodeId dir, NodeId ancestor) {
    for (NodeId id = dir;;) {
        if (id == ancestor) return true;
        const Node& n = s.live.nodes.at(id);
        if (n.links.empty()) return false;
        id = n.links.front().parent;
    }
}

bool may_add(const Machine::State& s, const Token& t, NodeId dir, bool directory) {
    const Node& p = s.live.nodes.at(dir);
    if (s.volumes.at(p.volume).file_system != u"NTFS") return true;
    uint32_t right = directory ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE;
    return (granted_access(p.dacl, p.owner, t, right) & right) != 0;
}

// Whether any handle is open on an object below `dir`, at any depth, through
// a name below it: NTFS refuses to rename such a directory (access denied),
// whatever the share modes of those handles.
bool has_open_below(const Machine::State& s, NodeId dir) {
    for (const auto& [raw, h] : s.handles) {
        if (h.type != HandleType::file || h.node == dir) continue;
        const Node& n = s.live.nodes.at(h.node);
        if (n.links.empty()) continue;  // deleted: no longer below anything
        if (lies_inside(s, acting_link(n, h.opened_as).parent, dir)) return true;
    }
    return false;
}

// The checks a rename makes of its target, then the rename itself. Share
// modes protect only the object they were given for: a directory held open
// without FILE_SHARE_DELETE cannot itself be renamed or deleted (the DELETE
// open fails), while the objects inside it can still be moved. A directory
// with any handle open below it cannot be renamed at all (5), whatever those
// handles share: the file system looks for open files under a directory
// before it renames it. `posix`:
// an existing target open with FILE_SHARE_DELETE may be replaced; without
// it, any open handle of the target refuses the replacement.
Status rename_node(Caller& c, NodeId node, const Link& from, const Target& to, bool replace,
                   bool ignore_readonly, bool posix) {
    Machine::State& s = c.s;
    const Token& token = c.process().token;
    const Node& n = s.live.nodes.at(node);
    if (to.kind != Target::Kind::object || to.volume != n.volume)
        return win32_error(win32::not_same_device);
    bool same_name =
        to.node && *to.node == node && to.parent == from.parent && names_equal(to.name, from.name);
    if (to.node && !same_name) {
        if (!replace) return win32_error(win32::already_exists);
        const Node& target = s.live.nodes.at(*to.node);
        if (target.kind == NodeKind::directory || is_directory_like(target))
            return win32_error(win32::access_denied);
        if ((target.attributes & FILE_ATTRIBUTE_READONLY) && !ignore_readonly)
            return win32_error(win32::access_denied);
        bool in_use = posix ? !all_handles_share_delete(s, *to.node) : target.open_handles > 0;
        if (in_use) return win32_error(win32::access_denied);
        if (!access_allowed(s, token, *to.node, to.parent, DELETE))
            return win32_error(win32::access_denied);
    }
    if (n.kind == NodeKind::directory && !same_name && has_open_below(s, node))
        return win32_error(win32::access_denied);
    // Windows refuses to move a directory below itself.
    if (n.kind == NodeKind::directory && lies_inside(s, to.parent, node))
        return win32_error(win32::sharing_violation);
    // The I/O manager first opens the target's directory for adding a child,
    // so a rename needs that right even within one directory.
    if (!may_add(s, token, to.parent, n.kind == NodeKind::directory))
        return win32_error(win32::access_denied);
    std::optional<NodeId> replaced = same_name ? std::nullopt : to.node;
    record_op(s, OpRename{from.parent, from.name, to.parent, to.name, replaced.has_value()});
    if (replaced) collect_if_orphan(s, *replaced);
    return {};
}

}  // namespace

Status sim_set_rename_info_ex(Caller& c, const Handle& h, const std::u16string& target,
                              uint32_t flags) {
    Machine::State& s = c.s;
    HandleObj* obj = find_handle(c, h);
    if (obj == nullptr || obj->type != HandleType::file) return win32_error(win32::invalid_handle);
    if (!(obj->access & DELETE)) return win32_error(win32::access_denied);
    const Node& n = s.live.nodes.at(obj->node);
    if (n.links.empty()) return win32_error(win32::access_denied);  // already deleted
    bool posix = flags & FILE_RENAME_FLAG_POSIX_SEMANTICS;
    if (posix && !is_posix_volume(s, n.volume)) return win32_error(win32::invalid_parameter);
    Link from = acting_link(n, obj->opened_as);
    // A bare name renames within the directory; anything else is a full path.
    std::u16string path = target;
    if (target.find_first_of(u"\\/") == std::u16string::npos && !is_absolute_path(target))
        path = join_path(path_of(s, from.parent), target);
    else if (!is_absolute_path(target))
        return win32_error(win32::invalid_parameter);
    auto to = resolve_path(s, path, c.process().current_directory, false);
    if (!to) return std::unexpected(to.error());
    auto st = rename_node(c, obj->node, from, *to, flags & FILE_RENAME_FLAG_REPLACE_IF_EXISTS,
                          flags & FILE_RENAME_FLAG_IGNORE_READONLY_ATTRIBUTE, posix);
    if (!st) return st;
    obj->opened_as = Link{to->parent, to->name};
    mutated(s);
    return {};
}

Status sim_set_disposition_info_ex(Caller& c, const Handle& h, uint32_t flags) {
    Machine::State& s = c.s;
    HandleObj* obj = find_handle(c, h);
    if (obj == nullptr || obj->type != HandleType::file) return win32_error(win32::invalid_handle);
    if (!(obj->access & DELETE)) return win32_error(win32::access_denied);
    Node& n = s.live.nodes.edit(obj->node);
    bool posix = flags & FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
    if (posix && !is_posix_volume(s, n.volume)) return win32_error(win32::invalid_parameter);
    if (!(flags & FILE_DISPOSITION_FLAG_DELETE)) {
        n.delete_pending.reset();
        return {};
    }
    if (n.links.empty()) return {};
    if (s.volumes.at(n.volume).root == obj->node) return win32_error(win32::access_denied);
    // Counted by live names: children deleted with POSIX semantics are gone,
    // children pending a classic delete still count.
    if (n.kind == NodeKind::directory && !n.children.empty())
        return win32_error(win32::dir_not_empty);
    if ((n.attributes & FILE_ATTRIBUTE_READONLY) &&
        !(flags & FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE))
        return win32_error(win32::access_denied);
    // STATUS_CANNOT_DELETE: the image of a running process stays until it exits.
    if (is_running_image(s, obj->node)) return win32_error(win32::access_denied);
    Link l = acting_link(n, obj->opened_as);
    if (!posix) {
        n.delete_pending = l;  // the name goes when the last handle closes
        return {};
    }
    record_op(s, OpUnlink{l.parent, l.name});
    mutated(s);
    return {};
}

Status sim_move_file_ex(Caller& c, const std::u16string& from, const std::u16string* to,
                        uint32_t flags) {
    Machine::State& s = c.s;
    const Process& p = c.process();
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (flags & MOVEFILE_COPY_ALLOWED) return win32_error(win32::invalid_parameter);
        if (!token_is_admin(p.token)) return win32_error(win32::access_denied);
        auto src = full_path_name(from, p.current_directory);
        if (!src) return std::unexpected(src.error());
        std::u16string dst;
        if (to != nullptr) {
            auto full = full_path_name(*to, p.current_directory);
            if (!full) return std::unexpected(full.error());
            dst = std::u16string((flags & MOVEFILE_REPLACE_EXISTING) ? u"!" : u"") + u"\\??\\" +
                  *full;
        }
        append_pending_rename(s, u"\\??\\" + *src, dst);
        mutated(s);
        return {};
    }
    if (to == nullptr) return win32_error(win32::invalid_parameter);
    auto src = resolve_path(s, from, p.current_directory, false);
    if (!src) return std::unexpected(src.error());
    if (src->kind != Target::Kind::object) return win32_error(win32::invalid_parameter);
    if (!src->node) return win32_error(win32::file_not_found);
    NodeId node = *src->node;
    if (s.volumes.at(src->volume).root == node) return win32_error(win32::access_denied);
    if (!access_allowed(s, p.token, node, src->parent, DELETE))
        return win32_error(win32::access_denied);
    if (share_conflict(s, node, DELETE, FILE_SHARE_ALL))
        return win32_error(win32::sharing_violation);
    auto dst = resolve_path(s, *to, p.current_directory, false);
    if (!dst) return std::unexpected(dst.error());
    Link link{src->parent, src->name};
    auto st = rename_node(c, node, link, *dst, flags & MOVEFILE_REPLACE_EXISTING, false, true);
    if (!st) return st;
    if (flags & MOVEFILE_WRITE_THROUGH) metadata_barrier(s);
    mutated(s);
    return {};
}

Status sim_create_hard_link(Caller& c, const std::u16string& link, const std::u16string& existing) {
    Machine::State& s = c.s;
    const Process& p = c.process();
    // A symbolic link given as the existing file gets the hard link itself.
    auto ex = resolve_path(s, existing, p.current_directory, false);
    if (!ex) return std::unexpected(ex.error());
    if (ex->kind != Target::Kind::object) return win32_error(win32::invalid_parameter);
    if (!ex->node) return win32_error(win32::file_not_found);
    const Node& n = s.live.nodes.at(*ex->node);
    if (n.kind == NodeKind::directory || is_directory_like(n))
        return win32_error(win32::access_denied);
    if (!(s.volumes.at(n.volume).flags & FILE_SUPPORTS_HARD_LINKS))
        return win32_error(kInvalidFunction);
    if (!access_allowed(s, p.token, *ex->node, ex->parent, FILE_WRITE_ATTRIBUTES))
        return win32_error(win32::access_denied);
    auto lk = resolve_path(s, link, p.current_directory, false);
    if (!lk) return std::unexpected(lk.error());
    if (lk->kind != Target::Kind::object) return win32_error(win32::invalid_parameter);
    if (lk->node) return win32_error(win32::already_exists);
    if (lk->volume != n.volume) return win32_error(win32::not_same_device);
    if (n.links.size() >= 1024) return win32_error(kTooManyLinks);
    if (!may_add(s, p.token, lk->parent, false)) return win32_error(win32::access_denied);
    record_op(s, OpLink{lk->parent, lk->name, *ex->node});
    mutated(s);
    return {};
}

}  // namespace holvar::sim
