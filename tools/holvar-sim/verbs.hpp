// The verbs of holvar-sim. Each takes the parsed words after its name; the
// first positional word is the machine file, but for `explain`, which reads
// a file of the host unless --machine names one.
#pragma once

#include <span>
#include <string_view>

#include "command_line.hpp"
#include "tool_error.hpp"

namespace holvar::simtool {

using VerbFn = ToolResult<int> (*)(const VerbArgs& args);

struct Verb {
    std::string_view name;
    std::string_view synopsis;  // the arguments, as in the usage text
    std::string_view summary;   // what it does, one line
    VerbSyntax syntax;
    VerbFn run;
};

std::span<const Verb> verb_table();

ToolResult<int> verb_init(const VerbArgs& args);
ToolResult<int> verb_show(const VerbArgs& args);
ToolResult<int> verb_reboot(const VerbArgs& args);
ToolResult<int> verb_stage(const VerbArgs& args);
ToolResult<int> verb_run(const VerbArgs& args);
ToolResult<int> verb_hold_lock(const VerbArgs& args);
ToolResult<int> verb_hold_file(const VerbArgs& args);
ToolResult<int> verb_kill(const VerbArgs& args);
ToolResult<int> verb_service_start(const VerbArgs& args);
ToolResult<int> verb_cat(const VerbArgs& args);
ToolResult<int> verb_ls(const VerbArgs& args);
ToolResult<int> verb_mkdir(const VerbArgs& args);
ToolResult<int> verb_write(const VerbArgs& args);
ToolResult<int> verb_chown(const VerbArgs& args);
ToolResult<int> verb_junction(const VerbArgs& args);
ToolResult<int> verb_rm(const VerbArgs& args);
ToolResult<int> verb_link(const VerbArgs& args);
ToolResult<int> verb_explain(const VerbArgs& args);
ToolResult<int> verb_explore(const VerbArgs& args);
ToolResult<int> verb_soak(const VerbArgs& args);

}  // namespace holvar::simtool
