#include "platform/sim/namespace_ops.hpp"

#include <algorithm>

#include "platform/sim/names.hpp"

namespace holvar::sim {
namespace {

void add_link(Namespace& ns, NodeId parent, const std::u16string& name, NodeId id) {
    ns.nodes.edit(parent).children[fold_name(name)] = id;
    ns.nodes.edit(id).links.push_back(Link{parent, name});
}

// Removes one name; returns the object it named.
std::optional<NodeId> remove_link(Namespace& ns, NodeId parent, std::u16string_view name) {
    const Node* seen = ns.nodes.find(parent);
    if (!seen) return std::nullopt;
    const FoldedName folded(name);
    auto found = seen->children.find(folded.view());
    if (found == seen->children.end()) return std::nullopt;
    NodeId id = found->second;
    Node& dir = ns.nodes.edit(parent);
    dir.children.erase(dir.children.find(folded.view()));
    auto& links = ns.nodes.edit(id).links;
    auto it = std::find_if(links.begin(), links.end(), [&](const Link& l) {
        return l.parent == parent && names_equal(l.name, name);
    });
    if (it != links.end()) links.erase(it);
    return id;
}

void erase_if_orphan(Namespace& ns, std::optional<NodeId> id, bool erase_orphans) {
    if (!erase_orphans || !id) return;
    const Node* n = ns.nodes.find(*id);
    if (n && n->links.empty()) ns.nodes.erase(*id);
}

}  // namespace

void apply_op(Namespace& ns, const MetaOp& op, bool erase_orphans) {
    if (const auto* c = std::get_if<OpCreate>(&op)) {
        ns.nodes.set(c->id, c->node);
        add_link(ns, c->parent, c->name, c->id);
    } else if (const auto* l = std::get_if<OpLink>(&op)) {
        add_link(ns, l->parent, l->name, l->id);
    } else if (const auto* u = std::get_if<OpUnlink>(&op)) {
        erase_if_orphan(ns, remove_link(ns, u->parent, u->name), erase_orphans);
    } else if (const auto* r = std::get_if<OpRename>(&op)) {
        auto moved = remove_link(ns, r->from_parent, r->from_name);
        if (!moved) return;
        std::optional<NodeId> replaced;
        if (r->replace) replaced = remove_link(ns, r->to_parent, r->to_name);
        add_link(ns, r->to_parent, r->to_name, *moved);
        if (replaced != moved) erase_if_orphan(ns, replaced, erase_orphans);
    }
}

void record_op(Machine::State& s, MetaOp op) {
    apply_op(s.live, op, false);
    s.log.push_back(std::move(op));
}

void collect_if_orphan(Machine::State& s, NodeId id) {
    const Node* n = s.live.nodes.find(id);
    if (!n) return;
    if (n->links.empty() && n->open_handles == 0 && s.volumes.at(n->volume).root != id) {
        s.dirty.erase(id);
        s.live.nodes.erase(id);
    }
}

std::optional<NodeId> child_of(const Namespace& ns, NodeId dir, std::u16string_view name) {
    const Node* d = ns.nodes.find(dir);
    if (!d) return std::nullopt;
    auto c = d->children.find(FoldedName(name).view());
    if (c == d->children.end()) return std::nullopt;
    return c->second;
}

bool is_directory_like(const Node& n) {
    return n.kind == NodeKind::directory || n.kind == NodeKind::junction ||
           (n.kind == NodeKind::symlink && (n.attributes & platform::FILE_ATTRIBUTE_DIRECTORY));
}

uint32_t node_attributes(const Node& n) {
    using namespace platform;
    uint32_t a = n.attributes &
                 ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL);
    switch (n.kind) {
        case NodeKind::directory:
            a |= FILE_ATTRIBUTE_DIRECTORY;
            break;
        case NodeKind::junction:
            a |= FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
            break;
        case NodeKind::symlink:
            a |= FILE_ATTRIBUTE_REPARSE_POINT | (n.attributes & FILE_ATTRIBUTE_DIRECTORY);
            break;
        case NodeKind::file:
            break;
    }
    return a == 0 ? FILE_ATTRIBUTE_NORMAL : a;
}

uint32_t reparse_tag(const Node& n) {
    if (n.kind == NodeKind::junction) return platform::IO_REPARSE_TAG_MOUNT_POINT;
    if (n.kind == NodeKind::symlink) return platform::IO_REPARSE_TAG_SYMLINK;
    return 0;
}

// NTFS reports its 64-bit file reference (record number and sequence) in the
// low eight bytes of FILE_ID_128, little-endian, the high eight bytes zero.
std::array<uint8_t, 16> file_id_bytes(uint64_t index) {
    std::array<uint8_t, 16> id{};
    for (int i = 0; i < 8; ++i) id[static_cast<size_t>(i)] = static_cast<uint8_t>(index >> (8 * i));
    return id;
}

Node new_node(Machine::State& s, NodeKind kind, uint32_t volume) {
    Node n;
    n.kind = kind;
    n.volume = volume;
    // Record numbers grow per volume; the sequence number (top 16 bits) is 1.
    n.file_index = (uint64_t{1} << 48) | ++s.volumes.at(volume).next_index;
    int64_t t = 0x01DB0000'00000000 + s.clock.count() / 100;
    n.creation_time = t;
    n.write_time = t;
    return n;
}

}  // namespace holvar::sim
