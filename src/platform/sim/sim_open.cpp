// CreateFileW and CreateDirectoryW on the simulated machine, with the access,
// share-mode and security rules that every other call relies on.
#include <algorithm>

#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_process_calls.hpp"

namespace holvar::sim {

using namespace platform;
namespace {

constexpr uint32_t kMaximumAllowed = 0x02000000;
constexpr uint32_t kInvalidOwner = 1307;
constexpr uint32_t kInvalidSecurityDescr = 1338;
constexpr uint32_t kReadish = FILE_READ_DATA | FILE_EXECUTE;
constexpr uint32_t kWriteish = FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr uint32_t kShared = kReadish | kWriteish | DELETE;

bool has_acls(const Machine::State& s, uint32_t volume) {
    return s.volumes.at(volume).file_system == u"NTFS";
}

}  // namespace

bool access_allowed(const Machine::State& s, const Token& t, NodeId node, NodeId parent,
                    uint32_t desired) {
    const Node& n = s.live.nodes.at(node);
    if (!has_acls(s, n.volume)) return true;
    uint32_t missing = desired & ~granted_access(n.dacl, n.owner, t, desired);
    if (missing != 0 && parent != 0 && parent != node) {
        const Node& p = s.live.nodes.at(parent);
        uint32_t pg = granted_access(p.dacl, p.owner, t, FILE_DELETE_CHILD | FILE_LIST_DIRECTORY);
        if (pg & FILE_DELETE_CHILD) missing &= ~DELETE;
        if (pg & FILE_LIST_DIRECTORY) missing &= ~FILE_READ_ATTRIBUTES;
    }
    return missing == 0;
}

// The share rule of IoCheckShareAccess: each side's access must be allowed by
// the other side's share mode. Opens asking only for attributes, security or
// synchronisation are not recorded and never conflict.
bool share_conflict(const Machine::State& s, NodeId node, uint32_t access, uint32_t share) {
    if ((access & kShared) == 0) return false;
    // Nothing holds the object (no handle, no running image): nothing to
    // meet, and no need to look through every handle of the machine.
    if (const Node* n = s.live.nodes.find(node); n && n->open_handles == 0) return false;
    // A running image: read and executed, shared for reading and deletion.
    if ((access & kWriteish) || !(share & FILE_SHARE_READ)) {
        for (const auto& [pid, p] : s.processes)
            if (p.alive && p.image_node == node) return true;
    }
    for (const auto& [raw, h] : s.handles) {
        if (h.type != HandleType::file || h.node != node || (h.access & kShared) == 0) continue;
        if ((access & kReadish) && !(h.share & FILE_SHARE_READ)) return true;
        if ((access & kWriteish) && !(h.share & FILE_SHARE_WRITE)) return true;
        if ((access & DELETE) && !(h.share & FILE_SHARE_DELETE)) return true;
        if ((h.access & kReadish) && !(share & FILE_SHARE_READ)) return true;
        if ((h.access & kWriteish) && !(share & FILE_SHARE_WRITE)) return true;
        if ((h.access & DELETE) && !(share & FILE_SHARE_DELETE)) return true;
    }
    return false;
}

bool is_running_image(const Machine::State& s, NodeId node) {
    for (const auto& [pid, p] : s.processes)
        if (p.alive && p.image_node == node) return true;
    return false;
}

bool all_handles_share_delete(const Machine::State& s, NodeId node) {
    if (const Node* n = s.live.nodes.find(node); n && n->open_handles == 0) return true;
    if (is_running_image(s, node)) return false;  // a mapped image cannot be replaced
    for (const auto& [raw, h] : s.handles)
        if (h.type == HandleType::file && h.node == node && (h.access & kShared) &&
            !(h.share & FILE_SHARE_DELETE))
            return false;
    return true;
}

Status apply_new_security(const Machine::State& s, const Token& t, NodeId parent,
                          const SecurityDescriptor* sd, Node& n) {
    n.owner = token_default_owner(t);
    n.group = n.owner;
    const Node& p = s.live.nodes.at(parent);
    bool is_dir = n.kind == NodeKind::directory || n.kind == NodeKind::junction;
    if (sd == nullptr) {
        n.dacl = inherit_acl(p.dacl, is_dir, n.owner);
        return {};
    }
    auto parts = decode_security_descriptor(*sd);
    if (!parts) return win32_error(kInvalidSecurityDescr);
    if (parts->owner) {
        // Only a SID the token may own objects as: its user, or Administrators
        // when elevated (SeRestorePrivilege is not enabled by the engine).
        bool may = *parts->owner == t.user ||
                   (*parts->owner == administrators_sid() && token_is_admin(t)) ||
                   (*parts->owner == system_sid() && t.user == system_sid());
        if (!may) return win32_error(kInvalidOwner);
        n.owner = *parts->owner;
    }
    if (parts->group) n.group = *parts->group;
    if (!parts->dacl_present) {
        n.dacl = inherit_acl(p.dacl, is_dir, n.owner);
    } else if (!parts->dacl) {
        n.dacl.reset();  // a NULL DACL
    } else {
        n.dacl = *parts->dacl;
        n.dacl_protected = parts->dacl_protected;
        if (!parts->dacl_protected) {
            // Explicit entries first, then what the parent passes down.
            Acl inherited = inherit_acl(p.dacl, is_dir, n.owner);
            n.dacl->aces.insert(n.dacl->aces.end(), inherited.aces.begin(), inherited.aces.end());
        }
    }
    return {};
}

Result<Handle> sim_create_file(Caller& c, const std::u16string& path, uint32_t access,
                               uint32_t share, uint32_t disposition, uint32_t flags,
                               const SecurityDescriptor* sd) {
    Machine::State& s = c.s;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return win32_error(win32::invalid_parameter);
    const Token& token = c.process().token;
    // CreateFileW always asks for SYNCHRONIZE and FILE_READ_ATTRIBUTES too, so
    // every handle it returns can be waited on and have its attributes read.
    uint32_t desired =
        (map_generic_file(access) & ~kMaximumAllowed) | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    bool follow = (flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0;
    auto t = resolve_path(s, path, c.process().current_directory, follow);
    if (!t) return std::unexpected(t.error());

    if (t->kind == Target::Kind::volume_device) {
        // Opening a volume for anything beyond its attributes takes an administrator.
        if ((desired & (kShared | FILE_WRITE_ATTRIBUTES)) && !token_is_admin(token))
            return win32_error(win32::access_denied);
        HandleObj h;
        h.type = HandleType::volume;
        h.volume = t->volume;
        h.access = desired;
        h.share = share;
        h.flags = flags;
        return make_handle(c, std::move(h));
    }
    if (t->kind == Target::Kind::other_device) {
        // The named-pipe namespace: a client connects to a served endpoint.
        if (t->device.size() > 5 && fold_name(t->device.substr(0, 5)) == u"PIPE\\")
            return sim_open_pipe(c, t->device.substr(5), access, flags);
        return win32_error(win32::file_not_found);
    }

    bool changed = false;
    NodeId id = 0;
    if (t->node) {
        id = *t->node;
        Node& n = s.live.nodes.edit(id);
        if (disposition == CREATE_NEW) return win32_error(win32::file_exists);
        if (is_directory_like(n)) {
            // A directory (or a link to one, opened as itself) needs backup semantics.
            if (!(flags & FILE_FLAG_BACKUP_SEMANTICS)) return win32_error(win32::access_denied);
            if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)
                return win32_error(win32::access_denied);
        }
        if (n.delete_pending) return win32_error(win32::access_denied);
        bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        if (disposition == TRUNCATE_EXISTING && !(desired & FILE_WRITE_DATA))
            return win32_error(win32::invalid_parameter);
        if ((n.attributes & FILE_ATTRIBUTE_READONLY) && ((desired & kWriteish) || truncate))
            return win32_error(win32::access_denied);
        if (!access_allowed(s, token, id, t->parent, desired | (truncate ? FILE_WRITE_DATA : 0)))
            return win32_error(win32::access_denied);
        if (share_conflict(s, id, desired, share)) return win32_error(win32::sharing_violation);
        if (truncate && n.kind == NodeKind::file) {
            n.data.clear();
            if (disposition == CREATE_ALWAYS) n.attributes = (flags & 0x7) | FILE_ATTRIBUTE_ARCHIVE;
            s.dirty.insert(id);
            changed = true;
        }
    } else {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return win32_error(win32::file_not_found);
        if (has_acls(s, t->volume)) {
            const Node& p = s.live.nodes.at(t->parent);
            if (!(granted_access(p.dacl, p.owner, token, FILE_ADD_FILE) & FILE_ADD_FILE))
                return win32_error(win32::access_denied);
        }
        Node n = new_node(s, NodeKind::file, t->volume);
        n.attributes = (flags & 0x7) | FILE_ATTRIBUTE_ARCHIVE;
        if (auto st = apply_new_security(s, token, t->parent, sd, n); !st)
            return std::unexpected(st.error());
        id = s.next_node++;
        record_op(s, OpCreate{t->parent, t->name, id, std::move(n)});
        changed = true;
    }
    HandleObj h;
    h.type = HandleType::file;
    h.node = id;
    h.access = desired;
    h.share = share;
    h.flags = flags;
    h.opened_as = Link{t->parent, t->name};
    ++s.live.nodes.edit(id).open_handles;
    Handle handle = make_handle(c, std::move(h));
    if (changed) mutated(s);
    return handle;
}

Status sim_create_directory(Caller& c, const std::u16string& path, const SecurityDescriptor* sd) {
    Machine::State& s = c.s;
    auto t = resolve_path(s, path, c.process().current_directory, false);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object) return win32_error(win32::access_denied);
    if (t->node) return win32_error(win32::already_exists);
    const Token& token = c.process().token;
    if (has_acls(s, t->volume)) {
        const Node& p = s.live.nodes.at(t->parent);
        if (!(granted_access(p.dacl, p.owner, token, FILE_ADD_SUBDIRECTORY) &
              FILE_ADD_SUBDIRECTORY))
            return win32_error(win32::access_denied);
    }
    Node n = new_node(s, NodeKind::directory, t->volume);
    if (auto st = apply_new_security(s, token, t->parent, sd, n); !st) return st;
    NodeId id = s.next_node++;
    record_op(s, OpCreate{t->parent, t->name, id, std::move(n)});
    mutated(s);
    return {};
}

}  // namespace holvar::sim
