// Texts crossing to and from the Service Control Manager: what the engine
// hands over must not hold a NUL (the SCM would store a shorter text than the
// one meant); what it reads back must be valid Unicode before it is used.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"

namespace holvar::txn::scm {

// Refuses a text with a NUL inside: invalid input "embedded NUL".
platform::Status check_scm_text(std::u16string_view text);

// The double-NUL-terminated multi-string of `entries`; an empty list is two NULs.
std::u16string dependency_multi_string(const std::vector<std::u16string>& entries);

// A text read from the SCM: invalid data "non-Unicode SCM value" unless it is
// well-formed UTF-16.
platform::Result<std::u16string> scm_text(const std::u16string& raw);

// The entries of a multi-string read from the SCM (each NUL-terminated),
// each converted strictly.
platform::Result<std::vector<std::u16string>> scm_multi_string(const std::u16string& raw);

// `path` as one command-line argument: quoted when it holds a space, tab,
// newline, vertical tab or double quote, with embedded quotes escaped and the
// backslashes before them and before the closing quote doubled.
std::u16string quote_command_line_argument(std::u16string_view path);

}  // namespace holvar::txn::scm
