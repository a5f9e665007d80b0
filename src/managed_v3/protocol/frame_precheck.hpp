// The structural check a frame's payload passes before it is parsed: strings
// are skipped, brackets must balance, and nesting must stay within a bound.
// It bounds what the parser is given, and it is one linear pass.
#pragma once

#include <cstddef>
#include <string_view>

namespace holvar::v3 {

inline constexpr std::size_t kMaxFrameDepth = 16;

// True when, outside strings, every `]` and `}` closes an open bracket, no
// bracket opens when `max_depth` are already open, and the payload ends
// outside a string with nothing open. Inside a string a backslash escapes the
// next byte. Brackets are not matched by kind: that is the parser's job.
bool passes_structure_precheck(std::string_view payload, std::size_t max_depth = kMaxFrameDepth);

}  // namespace holvar::v3
