// Which relative paths the engine will plan with, and which items under the
// root belong to the running service rather than to a plan.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace holvar::txn::plan {

// A relative path made only of names that mean the same thing to every Windows
// API: no empty, "." or ".." component, no trailing space or dot, no control
// character, none of " * / : < > ? | ~ (the tilde so that no short 8.3 alias of
// another name can be planned), and no DOS device name (CON, PRN, AUX, NUL,
// COM0-9, LPT0-9, with or without an extension). Components are split on "\".
bool is_safe_relative_name(std::u16string_view rel);

// The items the running service generates under the root, which no plan
// replaces or retires: ".holvar-service-v3" and "service-logs".
std::vector<std::u16string> default_generated_items();

// `rel` equals an item or lies below one (ASCII case folding).
bool is_covered_by(std::u16string_view rel, const std::vector<std::u16string>& items);

}  // namespace holvar::txn::plan
