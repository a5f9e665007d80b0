// An explanation as people read it (UTF-8 lines) and as programs read it (one
// compact JSON object, docs/schema/explanation.schema.json): the same facts.
#pragma once

#include <string>

#include "explain/explanation.hpp"

namespace holvar::explain {

// Lines, each ending in "\n".
std::string render_text(const Explanation& explanation);
// One line of compact JSON and a "\n".
std::string render_json(const Explanation& explanation);

}  // namespace holvar::explain
