// The arguments of one verb: positional words, "--name value" options, bare
// "--flag" switches, and everything after a lone "--" (the engine's own
// arguments for `run`), which is passed on untouched.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace holvar::simtool {

struct VerbSyntax {
    size_t positionals = 0;           // required, in this number
    std::set<std::string> options;    // take a value: "--root" "C:\x"
    std::set<std::string> switches;   // take none: "--force"
    bool takes_rest = false;          // accepts "-- ARG..."
    size_t optional_positionals = 0;  // this many more may follow the required ones
};

struct VerbArgs {
    std::vector<std::string> positionals;
    std::map<std::string, std::string> options;
    std::set<std::string> switches;
    std::vector<std::string> rest;

    std::optional<std::string> option(const std::string& name) const;
    bool has(const std::string& name) const { return switches.contains(name); }
};

// Parses the words after the verb; on failure the text says what is wrong.
struct ParseOutcome {
    std::optional<VerbArgs> args;
    std::string error;
};
ParseOutcome parse_verb_args(std::span<const std::string> words, const VerbSyntax& syntax);

}  // namespace holvar::simtool
