// UTF-8 well-formedness (RFC 3629): what a JSON text must hold.
#pragma once

#include <string_view>

namespace holvar::v3 {

// False for overlong forms, surrogates, code points above U+10FFFF and
// truncated or stray continuation bytes.
bool is_valid_utf8(std::string_view text);

}  // namespace holvar::v3
