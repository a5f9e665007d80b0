// UTF-16 as the platform hands it over (it may hold unpaired surrogates) and
// UTF-8 as every byte that leaves the process is written.
#pragma once

#include <string>
#include <string_view>

namespace holvar::installer {

// True when every surrogate in `text` is part of a well-formed pair.
bool is_valid_unicode(std::u16string_view text);

// UTF-8 of `text`; an unpaired surrogate becomes U+FFFD, so the result is
// always valid UTF-8 whatever the input held.
std::string to_utf8(std::u16string_view text);

// `text` with every byte sequence that is not well-formed UTF-8 replaced by
// U+FFFD (one replacement per maximal ill-formed subpart is not promised; the
// result is valid UTF-8 and equal to the input when the input was valid).
std::string sanitize_utf8(std::string_view text);

// The ASCII text as UTF-16 (every byte above 0x7F becomes U+FFFD).
std::u16string ascii_to_utf16(std::string_view text);

}  // namespace holvar::installer
