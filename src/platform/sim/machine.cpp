// The machine as tests and holvar-sim see it from outside: a fresh Windows
// installation, volumes, set-up and inspection helpers, processes, the clock.
#include "platform/sim/machine.hpp"

#include <utility>

#include "platform/sim/call_support.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/program_service.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/sddl.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_processes.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr const char16_t* kOutsideCwd = u"C:\\";

// Flags GetVolumeInformationW reports for each file system.
uint32_t flags_for(const std::u16string& fs) {
    if (fs == u"NTFS")
        return 0x1 | 0x2 | 0x4 | FILE_PERSISTENT_ACLS | 0x10 | 0x20 | 0x40 |
               FILE_SUPPORTS_REPARSE_POINTS | FILE_SUPPORTS_POSIX_UNLINK_RENAME | 0x10000 |
               0x20000 | 0x40000 | FILE_SUPPORTS_HARD_LINKS | 0x800000 | 0x1000000 | 0x2000000;
    return 0x2 | 0x4;  // FAT32, exFAT: case-preserving, Unicode names, nothing more
}

constexpr const char16_t* kRootSddl =
    u"O:SYG:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)"
    u"(A;OICIIO;0x1301bf;;;AU)";
constexpr const char16_t* kSystemFolderSddl =
    u"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    u"G:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    u"D:P(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    u"(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    u"(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    u"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)";
constexpr const char16_t* kProgramDataSddl =
    u"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
    u"(A;CI;0x116;;;BU)";
constexpr const char16_t* kUsersSddl =
    u"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;WD)";

void apply_sddl(Node& n, const char16_t* sddl) {
    auto parts = parse_sddl(sddl);
    if (!parts) return;
    if (parts->owner) n.owner = *parts->owner;
    if (parts->group) n.group = *parts->group;
    if (parts->dacl) n.dacl = parts->dacl;
    n.dacl_protected = parts->dacl_protected;
}

// Set-up changes are durable at once: the machine a test builds is the
// machine a crash returns to.
void settle(Machine::State& s) {
    metadata_barrier(s);
}

Result<Target> locate(const Machine::State& s, const std::u16string& path, bool follow) {
    return resolve_path(s, path, kOutsideCwd, follow);
}

// Creates an object under the path's parent; the name must be free.
Result<NodeId> create_at(Machine::State& s, const std::u16string& path, Node n) {
    auto t = locate(s, path, false);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object) return win32_error(win32::invalid_name);
    if (t->node) return win32_error(win32::already_exists);
    const Node& parent = s.live.nodes.at(t->parent);
    Node fresh_ids = new_node(s, n.kind, t->volume);
    n.volume = t->volume;
    n.file_index = fresh_ids.file_index;
    n.creation_time = fresh_ids.creation_time;
    n.write_time = fresh_ids.write_time;
    n.dacl = inherit_acl(parent.dacl, n.kind == NodeKind::directory || n.kind == NodeKind::junction,
                         n.owner);
    NodeId id = s.next_node++;
    record_op(s, OpCreate{t->parent, t->name, id, std::move(n)});
    return id;
}

Node owned(NodeKind kind, const Sid& owner) {
    Node n;
    n.kind = kind;
    n.owner = owner;
    n.group = owner;
    return n;
}

NodeInfo info_of(const Machine::State& s, NodeId id, const std::u16string& name) {
    const Node& n = s.live.nodes.at(id);
    NodeInfo i;
    i.kind = n.kind;
    i.name = name;
    i.file_id = file_id_bytes(n.file_index);
    i.owner = n.owner;
    i.attributes = node_attributes(n);
    i.link_count = static_cast<uint32_t>(n.links.size());
    i.reparse_target = n.reparse_target;
    i.size = n.data.size();
    return i;
}

}  // namespace

Machine::Machine() : state_(std::make_unique<State>()) {}
Machine::~Machine() = default;

std::unique_ptr<Machine> Machine::clone() const {
    std::unique_ptr<Machine> copy(new Machine());
    *copy->state_ = *state_;
    return copy;
}

std::unique_ptr<Machine> Machine::fresh() {
    std::unique_ptr<Machine> m(new Machine());
    State& s = *m->state_;
    s.processes[kSystemPid] = Process{u"System", system_token(), u"C:\\Windows\\System32", true, 0};
    m->add_volume(VolumeSpec{u"C:", u"", 0x1234abcd5678ef90, u"NTFS"});
    struct Folder {
        const char16_t* path;
        const char16_t* sddl;
    };
    for (Folder f :
         {Folder{u"C:\\Windows", kSystemFolderSddl},
          Folder{u"C:\\Windows\\System32", kSystemFolderSddl},
          Folder{u"C:\\Program Files", kSystemFolderSddl},
          Folder{u"C:\\ProgramData", kProgramDataSddl}, Folder{u"C:\\Users", kUsersSddl}}) {
        Node n = owned(NodeKind::directory, system_sid());
        auto id = create_at(s, f.path, std::move(n));
        if (id) apply_sddl(s.live.nodes.edit(*id), f.sddl);
    }
    reg_create_key(s.registry, kSessionManagerKey);
    reg_create_key(s.registry, u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    reg_create_key(s.registry, u"HKLM\\SOFTWARE\\Classes");
    reg_create_key(s.registry, u"HKLM\\SYSTEM\\CurrentControlSet\\Services");
    settle(s);
    s.durable = s.live;
    return m;
}

void Machine::add_volume(const VolumeSpec& spec) {
    State& s = *state_;
    uint32_t index = static_cast<uint32_t>(s.volumes.size());
    Volume v;
    v.drive = spec.drive;
    v.mount_folder = spec.mount_folder;
    v.serial = spec.serial;
    v.file_system = spec.file_system;
    v.flags = flags_for(spec.file_system);
    s.volumes.push_back(v);
    Node root = new_node(s, NodeKind::directory, index);
    apply_sddl(root, kRootSddl);
    NodeId root_id = s.next_node++;
    s.volumes[index].root = root_id;
    s.live.nodes.set(root_id, root);
    s.durable.nodes.set(root_id, root);
    if (!spec.mount_folder.empty()) {
        // The folder a volume is mounted into is a mount-point reparse point
        // that leads to the volume's root.
        Node mount = owned(NodeKind::junction, administrators_sid());
        mount.mounts = index;
        static constexpr char16_t hex[] = u"0123456789abcdef";
        std::u16string guid;
        for (int i = 60; i >= 0; i -= 4) guid.push_back(hex[(spec.serial >> i) & 0xF]);
        mount.reparse_target = u"\\??\\Volume{" + guid + u"}\\";
        auto t = locate(s, spec.mount_folder, false);
        if (t && !t->node) mount.volume = t->volume;
        (void)create_at(s, spec.mount_folder, std::move(mount));
    }
    settle(s);
}

Status Machine::make_directory(const std::u16string& path, const Sid& owner) {
    auto id = create_at(*state_, path, owned(NodeKind::directory, owner));
    if (!id) return std::unexpected(id.error());
    settle(*state_);
    return {};
}

Status Machine::write_file(const std::u16string& path, const std::vector<uint8_t>& bytes,
                           const Sid& owner) {
    State& s = *state_;
    auto t = locate(s, path, true);
    if (!t) return std::unexpected(t.error());
    NodeId id;
    if (t->node) {
        id = *t->node;
        if (s.live.nodes.at(id).kind != NodeKind::file) return win32_error(win32::access_denied);
        s.live.nodes.edit(id).owner = owner;
    } else {
        Node n = owned(NodeKind::file, owner);
        n.attributes = FILE_ATTRIBUTE_ARCHIVE;
        auto created = create_at(s, path, std::move(n));
        if (!created) return std::unexpected(created.error());
        id = *created;
    }
    s.live.nodes.edit(id).data = bytes;
    settle(s);
    s.durable.nodes.edit(id).owner = owner;
    flush_contents(s, id);
    return {};
}

Status Machine::make_junction(const std::u16string& path, const std::u16string& target,
                              const Sid& owner) {
    Node n = owned(NodeKind::junction, owner);
    n.reparse_target = target;
    auto id = create_at(*state_, path, std::move(n));
    if (!id) return std::unexpected(id.error());
    settle(*state_);
    return {};
}

Status Machine::make_symlink(const std::u16string& path, const std::u16string& target,
                             const Sid& owner) {
    State& s = *state_;
    Node n = owned(NodeKind::symlink, owner);
    n.reparse_target = target;
    // A link created to a directory is a directory link (as mklink /d makes it).
    auto parent = parent_path(path);
    std::u16string base = parent ? *parent : std::u16string(kOutsideCwd);
    auto tt = resolve_path(s, target, base, true);
    if (tt && tt->node && s.live.nodes.at(*tt->node).kind == NodeKind::directory)
        n.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    auto id = create_at(s, path, std::move(n));
    if (!id) return std::unexpected(id.error());
    settle(s);
    return {};
}

Status Machine::make_hard_link(const std::u16string& link, const std::u16string& existing) {
    State& s = *state_;
    auto ex = locate(s, existing, false);
    if (!ex) return std::unexpected(ex.error());
    if (!ex->node) return win32_error(win32::file_not_found);
    if (s.live.nodes.at(*ex->node).kind != NodeKind::file) return win32_error(win32::access_denied);
    auto lk = locate(s, link, false);
    if (!lk) return std::unexpected(lk.error());
    if (lk->node) return win32_error(win32::already_exists);
    if (lk->volume != ex->volume) return win32_error(win32::not_same_device);
    record_op(s, OpLink{lk->parent, lk->name, *ex->node});
    settle(s);
    return {};
}

Status Machine::set_owner(const std::u16string& path, const Sid& owner) {
    State& s = *state_;
    auto t = locate(s, path, false);
    if (!t) return std::unexpected(t.error());
    if (!t->node) return win32_error(win32::file_not_found);
    settle(s);
    s.live.nodes.edit(*t->node).owner = owner;
    s.durable.nodes.edit(*t->node).owner = owner;
    return {};
}

Status Machine::make_directory_sddl(const std::u16string& path, const std::u16string& sddl) {
    auto parts = parse_sddl(sddl);
    if (!parts) return std::unexpected(parts.error());
    if (!parts->owner || !parts->dacl) return win32_error(win32::invalid_parameter);
    if (auto made = make_directory(path, *parts->owner); !made) return made;
    return set_dacl(path, *parts->dacl, parts->dacl_protected);
}

Status Machine::set_dacl(const std::u16string& path, const Acl& dacl, bool protect) {
    State& s = *state_;
    auto t = locate(s, path, false);
    if (!t) return std::unexpected(t.error());
    if (!t->node) return win32_error(win32::file_not_found);
    settle(s);
    for (Namespace* ns : {&s.live, &s.durable}) {
        Node& n = ns->nodes.edit(*t->node);
        n.dacl = dacl;
        n.dacl_protected = protect;
    }
    return {};
}

Status Machine::remove(const std::u16string& path) {
    State& s = *state_;
    auto t = locate(s, path, false);
    if (!t) return std::unexpected(t.error());
    if (!t->node) return win32_error(win32::file_not_found);
    if (s.volumes.at(t->volume).root == *t->node) return win32_error(win32::access_denied);
    if (!s.live.nodes.at(*t->node).children.empty()) return win32_error(win32::dir_not_empty);
    NodeId id = *t->node;
    record_op(s, OpUnlink{t->parent, t->name});
    collect_if_orphan(s, id);
    settle(s);
    return {};
}

Result<NodeInfo> Machine::stat(const std::u16string& path) const {
    auto t = locate(*state_, path, false);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object || !t->node) return win32_error(win32::file_not_found);
    const Node& n = state_->live.nodes.at(*t->node);
    std::u16string name = t->name;
    for (const Link& l : n.links)
        if (l.parent == t->parent && names_equal(l.name, t->name)) name = l.name;
    return info_of(*state_, *t->node, name);
}

Result<std::vector<uint8_t>> Machine::read_file(const std::u16string& path) const {
    auto t = locate(*state_, path, true);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object || !t->node) return win32_error(win32::file_not_found);
    const Node& n = state_->live.nodes.at(*t->node);
    if (n.kind != NodeKind::file) return win32_error(win32::access_denied);
    return n.data.get();
}

Result<std::vector<NodeInfo>> Machine::list(const std::u16string& path) const {
    auto t = locate(*state_, path, true);
    if (!t) return std::unexpected(t.error());
    if (t->kind != Target::Kind::object || !t->node) return win32_error(win32::path_not_found);
    const Node& d = state_->live.nodes.at(*t->node);
    if (d.kind != NodeKind::directory) return win32_error(win32::directory);
    std::vector<NodeInfo> out;
    for (const auto& [folded, id] : d.children) {
        for (const Link& l : state_->live.nodes.at(id).links)
            if (l.parent == *t->node && fold_name(l.name) == folded)
                out.push_back(info_of(*state_, id, l.name));
    }
    return out;
}

bool Machine::exists(const std::u16string& path) const {
    auto t = locate(*state_, path, false);
    return t && t->kind == Target::Kind::object && t->node.has_value();
}

uint32_t Machine::spawn_process(const std::u16string& image_path, const Token& token,
                                const std::u16string& current_directory) {
    // A process started from outside: its program runs when its image holds
    // one; any other image stays alive until it is ended (the engine in tests).
    StartSpec spec;
    spec.image = image_path;
    spec.token = token;
    spec.current_directory = current_directory;
    spec.command_line = u"\"" + image_path + u"\"";
    spec.plain_image_exits = false;
    auto pid = start_process(*state_, spec);
    return pid ? *pid : 0;
}

void Machine::exit_process(uint32_t pid, uint32_t exit_code) {
    end_process(*state_, pid, exit_code);
}

bool Machine::process_alive(uint32_t pid) const {
    auto it = state_->processes.find(pid);
    return it != state_->processes.end() && it->second.alive;
}

platform::Instant Machine::now() const {
    return state_->clock;
}
void Machine::advance(platform::Duration d) {
    advance_clock_to(*state_, state_->clock + d);
}

void Machine::reboot() {
    State& s = *state_;
    std::vector<uint32_t> pids;
    for (const auto& [pid, p] : s.processes)
        if (pid != kSystemPid) pids.push_back(pid);
    for (uint32_t pid : pids) {
        exit_process(pid, 0);
        s.processes.erase(pid);
    }
    s.mutexes.clear();
    // Session Manager applies the pending renames in order, before anything runs.
    if (const RegValue* v = reg_find_value(s.registry, kSessionManagerKey, kPendingRenamesValue)) {
        auto strings = multi_sz_strings(v->data);
        auto strip = [](std::u16string p) {
            if (!p.empty() && p[0] == u'!') p.erase(0, 1);
            if (p.compare(0, 4, u"\\??\\") == 0) p.erase(0, 4);
            return p;
        };
        for (size_t i = 0; i + 1 < strings.size(); i += 2) {
            auto src = locate(s, strip(strings[i]), false);
            if (!src || !src->node || s.volumes.at(src->volume).root == *src->node) continue;
            if (strings[i + 1].empty()) {
                if (!s.live.nodes.at(*src->node).children.empty()) continue;
                NodeId id = *src->node;
                record_op(s, OpUnlink{src->parent, src->name});
                collect_if_orphan(s, id);
                continue;
            }
            bool replace = strings[i + 1][0] == u'!';
            auto dst = locate(s, strip(strings[i + 1]), false);
            if (!dst || dst->volume != src->volume) continue;
            if (dst->node && (!replace || s.live.nodes.at(*dst->node).kind != NodeKind::file))
                continue;
            std::optional<NodeId> replaced = dst->node;
            record_op(
                s, OpRename{src->parent, src->name, dst->parent, dst->name, replaced.has_value()});
            if (replaced) collect_if_orphan(s, *replaced);
        }
        reg_delete_value(s.registry, kSessionManagerKey, kPendingRenamesValue);
    }
    settle(s);
    std::vector<NodeId> dirty(s.dirty.begin(), s.dirty.end());
    for (NodeId id : dirty) flush_contents(s, id);
    // Then the service manager starts what is configured to start automatically.
    start_automatic_services(s);
}

}  // namespace holvar::sim
