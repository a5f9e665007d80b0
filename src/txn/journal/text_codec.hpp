// The JSON string and hex forms the journal writes, and the strict UTF-16 and
// UTF-8 conversions between the engine's path text and its JSON files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unicode.hpp"
#include "txn/journal/hex_words.hpp"

namespace holvar::txn::journal {

// The strict conversions live with the platform's Unicode rules; the journal
// and the modules that read its JSON reach them by these names.
using platform::is_valid_utf16;
using platform::utf16_to_utf8;
using platform::utf8_to_utf16;

// Appends `text` as a JSON string literal (quotes included), compact: '"' and
// '\' escaped, the C0 controls as \b \f \n \r \t or \u00xx, everything else as
// UTF-8. False (and `out` unspecified) when the text holds an unpaired surrogate.
bool append_json_string(std::string& out, std::u16string_view text);
// The same for text that is already UTF-8 (checked by the caller).
void append_json_string_utf8(std::string& out, std::string_view text);

// The same literals written at a raw position, for writers that reserve room
// once for a whole record: the most bytes a literal of `units` code units (of
// either encoding) can take is a \u00xx escape for each, plus the quotes.
constexpr size_t json_string_bound(size_t units) {
    return 6 * units + 2;
}
// Returns the end of what was written, or null for an unpaired surrogate.
char* write_json_string(char* to, std::u16string_view text);
char* write_json_string_utf8(char* to, std::string_view text);

// Exactly `digits` lowercase hexadecimal digits, zero-padded.
void append_hex(std::string& out, uint64_t value, int digits);
// Exactly `digits` characters 0-9 or a-f; uppercase refused.
std::optional<uint64_t> parse_lower_hex(std::string_view text, size_t digits);

}  // namespace holvar::txn::journal
