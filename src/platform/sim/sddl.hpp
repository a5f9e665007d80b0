// The SDDL subset that the engine and the machine's set-up use: "O:", "G:",
// "D:" with the flags P and AI, and ACEs "(type;flags;rights;;;sid)".
#pragma once

#include <string>

#include "platform/error.hpp"
#include "platform/security_types.hpp"

namespace holvar::sim {

// ConvertStringSecurityDescriptorToSecurityDescriptorW's answer: the parsed
// parts, or ERROR_INVALID_PARAMETER (87) for text outside the subset and
// ERROR_INVALID_SID (1337) for a SID that does not parse.
platform::Result<platform::SecurityParts> parse_sddl(const std::u16string& text);

// A SID as SDDL writes it: an alias (SY BA BU WD AU CO) or "S-1-...".
platform::Result<platform::Sid> parse_sddl_sid(std::u16string_view text);

}  // namespace holvar::sim
