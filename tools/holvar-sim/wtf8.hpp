// Conversion between the UTF-8 bytes of the tool's own command line and output
// and the UTF-16 of Windows paths. The rules are WTF-8: a surrogate code point
// encoded on its own (ED A0 80 .. ED BF BF) stands for an unpaired surrogate, so
// a path that is not valid Unicode can still be typed, passed to the engine and
// printed back byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace holvar::simtool {

// None when the bytes are not WTF-8: a malformed or overlong sequence, a code
// point above U+10FFFF, or a surrogate pair spelled as two 3-byte sequences
// (WTF-8 spells that pair as the 4-byte sequence of its code point).
std::optional<std::u16string> wtf8_to_utf16(std::string_view bytes);

// Always succeeds: a valid pair becomes one 4-byte sequence, an unpaired
// surrogate its own 3-byte sequence.
std::string utf16_to_wtf8(std::u16string_view text);

}  // namespace holvar::simtool
