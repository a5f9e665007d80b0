#include "txn/scm/scm_text.hpp"

#include "txn/journal/text_codec.hpp"

namespace holvar::txn::scm {

platform::Status check_scm_text(std::u16string_view text) {
    if (text.find(u'\0') != std::u16string_view::npos)
        return platform::invalid_input("embedded NUL");
    return {};
}

std::u16string dependency_multi_string(const std::vector<std::u16string>& entries) {
    if (entries.empty()) return std::u16string(2, u'\0');
    std::u16string out;
    for (const auto& e : entries) {
        out += e;
        out.push_back(u'\0');
    }
    out.push_back(u'\0');
    return out;
}

platform::Result<std::u16string> scm_text(const std::u16string& raw) {
    if (!journal::is_valid_utf16(raw)) return platform::invalid_data("non-Unicode SCM value");
    return raw;
}

platform::Result<std::vector<std::u16string>> scm_multi_string(const std::u16string& raw) {
    std::vector<std::u16string> out;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find(u'\0', start);
        if (end == std::u16string::npos) end = raw.size();
        if (end == start) break;  // the empty entry that ends the list
        auto entry = scm_text(raw.substr(start, end - start));
        if (!entry) return std::unexpected(entry.error());
        out.push_back(std::move(*entry));
        start = end + 1;
    }
    return out;
}

std::u16string quote_command_line_argument(std::u16string_view path) {
    if (path.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) return std::u16string(path);
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : path) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            // Backslashes before a quote are doubled, then the quote escaped.
            out.append(backslashes * 2 + 1, u'\\');
            out.push_back(u'"');
        } else {
            out.append(backslashes, u'\\');
            out.push_back(c);
        }
        backslashes = 0;
    }
    out.append(backslashes * 2, u'\\');
    out.push_back(u'"');
    return out;
}

}  // namespace holvar::txn::scm
