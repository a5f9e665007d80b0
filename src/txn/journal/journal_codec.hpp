// txn.json: the journal as one compact JSON object, keys in a fixed order, and
// the strict reader that refuses anything the writer would not have produced.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::txn::journal {

// The file's bytes, or invalid input "invalid journal" when the journal fails
// validation or holds a text that is not valid Unicode (a path with an unpaired
// surrogate has no UTF-8 form; such a journal is never written).
platform::Result<std::string> encode_journal(const Journal& journal);
// The same bytes written into `out`, replacing what it held but keeping its
// storage: the store rewrites the whole journal for every mark, and at a
// million operations faulting in a fresh buffer each time costs more than the
// writing. On failure `out` is left empty.
platform::Status encode_journal(const Journal& journal, std::string& out);

// The journal, or why it is refused: unsupported for a "format" other than 1
// (whatever else the document holds), corrupt for everything else.
std::expected<Journal, JournalDefect> decode_journal(std::string_view bytes);

}  // namespace holvar::txn::journal
