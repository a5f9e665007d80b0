// What the tool prints: one line per object, paths in WTF-8, file bytes as they are.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/sim/machine.hpp"

namespace holvar::simtool {

std::string kind_name(sim::NodeKind kind);
std::string file_id_hex(const std::array<uint8_t, 16>& id);
// "<kind> <owner> <file id> <size> <name>" and " -> <target>" for a link;
// the name comes last because it may hold spaces.
std::string node_line(const sim::NodeInfo& node);

void print_line(std::string_view text);            // stdout, with a line break
void print_bytes(std::span<const uint8_t> bytes);  // stdout, unchanged
void print_error(std::string_view text);           // stderr, "holvar-sim: " first

}  // namespace holvar::simtool
