// The machine file: one JSON document holding the whole simulated machine.
// It is read whole before anything changes and replaced atomically, so a file
// that could not be read is never overwritten and a crash of the tool leaves
// either the old machine or the new one.
#pragma once

#include <memory>
#include <string>

#include "platform/sim/machine.hpp"
#include "tool_error.hpp"

namespace holvar::simtool {

ToolResult<std::unique_ptr<sim::Machine>> load_machine(const std::string& file);
ToolResult<void> save_machine(const sim::Machine& machine, const std::string& file);

}  // namespace holvar::simtool
