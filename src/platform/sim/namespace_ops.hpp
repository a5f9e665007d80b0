// The metadata operations on a namespace, and the small queries everything
// else asks of an object (its child by name, its attributes, its id).
#pragma once

#include <optional>

#include "platform/sim/machine_state.hpp"

namespace holvar::sim {

// Applies one operation. The caller has checked it is valid on this namespace
// (it was checked against the live state, and a durable image is always a
// state the live one passed through). With `erase_orphans`, an object whose
// last name goes is removed (a durable image has no open handles to keep it).
void apply_op(Namespace& ns, const MetaOp& op, bool erase_orphans);

// The live state: apply, log for the crash model.
void record_op(Machine::State& s, MetaOp op);

// Removes a live object that has no name and no open handle left.
void collect_if_orphan(Machine::State& s, NodeId id);

std::optional<NodeId> child_of(const Namespace& ns, NodeId dir, std::u16string_view name);

// FILE_BASIC_INFO attributes: the kind's bits over the stored ones
// (FILE_ATTRIBUTE_NORMAL when nothing else is set).
uint32_t node_attributes(const Node& n);
uint32_t reparse_tag(const Node& n);
std::array<uint8_t, 16> file_id_bytes(uint64_t index);
bool is_directory_like(const Node& n);  // a directory, or a link to one (junction, mount)

// A new object's metadata with the next id of its volume.
Node new_node(Machine::State& s, NodeKind kind, uint32_t volume);

}  // namespace holvar::sim
