// Strict conversions between the engine's UTF-16 path text and the UTF-8 of
// JSON files, and the JSON string and hex forms the journal writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace holvar::txn::journal {

// True when the text holds no unpaired surrogate.
bool is_valid_utf16(std::u16string_view text);

// UTF-16 to UTF-8; none when the text holds an unpaired surrogate (it has no
// UTF-8 form, and a JSON file must never carry invalid UTF-8).
std::optional<std::string> utf16_to_utf8(std::u16string_view text);
// UTF-8 to UTF-16; none for bytes that are not well-formed UTF-8 (overlong
// forms, encoded surrogates and values above U+10FFFF included).
std::optional<std::u16string> utf8_to_utf16(std::string_view text);

// Appends `text` as a JSON string literal (quotes included), compact: '"' and
// '\' escaped, the C0 controls as \b \f \n \r \t or \u00xx, everything else as
// UTF-8. False (and `out` unspecified) when the text holds an unpaired surrogate.
bool append_json_string(std::string& out, std::u16string_view text);
// The same for text that is already UTF-8 (checked by the caller).
void append_json_string_utf8(std::string& out, std::string_view text);

// Exactly `digits` lowercase hexadecimal digits, zero-padded.
void append_hex(std::string& out, uint64_t value, int digits);
// Exactly `digits` characters 0-9 or a-f; uppercase refused.
std::optional<uint64_t> parse_lower_hex(std::string_view text, size_t digits);

}  // namespace holvar::txn::journal
