// The command line: exactly five accepted forms, matched position by position
// on the raw UTF-16 arguments, byte-exact and case-sensitive.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "txn/outcome/command.hpp"

namespace holvar::installer {

using txn::outcome::Command;

struct ParsedArguments {
    Command command = Command::apply;
    std::u16string root;  // verbatim, not yet absolute
    bool purge_session_vault = false;
    friend bool operator==(const ParsedArguments&, const ParsedArguments&) = default;
};

// `argv[0]` is the program name and is skipped. None when the vector is
// outside the grammar.
std::optional<ParsedArguments> parse_arguments(const std::vector<std::u16string>& argv);

}  // namespace holvar::installer
