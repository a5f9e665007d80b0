// Small pieces the verbs share: reading typed arguments and turning the
// simulated machine's errors into the tool's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "command_line.hpp"
#include "platform/error.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "tool_error.hpp"

namespace holvar::simtool {

// A word decoded from WTF-8; `what` names it in the error.
ToolResult<std::u16string> wide_arg(const std::string& word, std::string_view what);
// An absolute Windows path ("C:\x", "\\?\C:\x", ...).
ToolResult<std::u16string> windows_path_arg(const std::string& word, std::string_view what);
// An owner name (see owners.hpp); `fallback` when the option was not given.
ToolResult<platform::Sid> owner_arg(const std::optional<std::string>& word,
                                    const platform::Sid& fallback);
ToolResult<uint32_t> number_arg(const std::string& word, std::string_view what);
// The option's number, at least 1, or none when the option was not given.
ToolResult<std::optional<uint32_t>> count_option(const VerbArgs& args, const std::string& name);

// The machine refused: "<action> <path>: <error>", exit code 1.
std::unexpected<ToolError> machine_refused(std::string_view action, std::u16string_view path,
                                           const platform::Error& error);

// BUILTIN\Administrators, the owner of what an elevated setup program creates.
const platform::Sid& administrators_sid();

// Leaves a handle open in its simulated process: the handle belongs to that
// process, which outlives this invocation of the tool (the machine file keeps
// it), so it must not be closed when the tool's stack unwinds.
void leave_open(platform::Handle handle);

// Creates `path` and every missing ancestor, each owned by `owner`; an
// existing directory is left as it is.
ToolResult<void> make_directories(sim::Machine& machine, const std::u16string& path,
                                  const platform::Sid& owner);

}  // namespace holvar::simtool
