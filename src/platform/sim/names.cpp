#include "platform/sim/names.hpp"

namespace holvar::sim {

char16_t upcase(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

std::u16string fold_name(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) c = upcase(c);
    return out;
}

FoldedName::FoldedName(std::u16string_view name) {
    if (name.size() > std::size(short_)) {
        long_ = fold_name(name);
        return;
    }
    for (char16_t c : name) short_[size_++] = upcase(c);
}

bool names_equal(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upcase(a[i]) != upcase(b[i])) return false;
    return true;
}

bool is_valid_name(std::u16string_view name) {
    if (name.empty() || name.size() > 255 || name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (c < 0x20) return false;
        switch (c) {
            case u'<':
            case u'>':
            case u':':
            case u'"':
            case u'/':
            case u'\\':
            case u'|':
            case u'?':
            case u'*':
                return false;
            default:
                break;
        }
    }
    return true;
}

bool wildcard_match(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*" || pattern == u"*.*") return true;
    // Iterative glob with one backtracking point for the last '*'.
    size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || upcase(pattern[p]) == upcase(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            mark = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace holvar::sim
