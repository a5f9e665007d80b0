#include "txn/plan/name_rules.hpp"

#include "platform/win_path.hpp"

namespace holvar::txn::plan {

namespace {

bool is_forbidden_char(char16_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    switch (c) {
        case u'"':
        case u'*':
        case u'/':
        case u':':
        case u'<':
        case u'>':
        case u'?':
        case u'|':
        case u'~':
            return true;
        default:
            return false;
    }
}

char16_t ascii_upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
}

bool upper_equals(std::u16string_view text, std::u16string_view upper) {
    if (text.size() != upper.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (ascii_upper(text[i]) != upper[i]) return false;
    }
    return true;
}

// Windows also reserves COM and LPT followed by a superscript one, two or three.
bool is_device_digit(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

// The part before the first dot names a DOS device. Windows ignores spaces
// between a device name and its extension ("NUL .txt" is NUL), so they are
// ignored here too.
bool is_device_name(std::u16string_view component) {
    std::u16string_view base = component.substr(0, component.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    if (base.size() == 3) {
        return upper_equals(base, u"CON") || upper_equals(base, u"PRN") ||
               upper_equals(base, u"AUX") || upper_equals(base, u"NUL");
    }
    if (base.size() == 4 && is_device_digit(base[3])) {
        return upper_equals(base.substr(0, 3), u"COM") || upper_equals(base.substr(0, 3), u"LPT");
    }
    return false;
}

bool is_safe_component(std::u16string_view c) {
    if (c.empty() || c == u"." || c == u"..") return false;
    if (c.back() == u' ' || c.back() == u'.') return false;
    for (char16_t ch : c) {
        if (is_forbidden_char(ch)) return false;
    }
    return !is_device_name(c);
}

}  // namespace

bool is_safe_relative_name(std::u16string_view rel) {
    if (rel.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t end = rel.find(u'\\', start);
        std::u16string_view component = rel.substr(
            start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (!is_safe_component(component)) return false;
        if (end == std::u16string_view::npos) return true;
        start = end + 1;
    }
}

std::vector<std::u16string> default_generated_items() {
    std::vector<std::u16string> items;
    for (std::u16string_view name : {u".holvar-service-v3", u"service-logs"}) {
        if (is_safe_relative_name(name)) items.emplace_back(name);
    }
    return items;
}

bool is_covered_by(std::u16string_view rel, const std::vector<std::u16string>& items) {
    for (const std::u16string& item : items) {
        if (rel.size() < item.size()) continue;
        if (!platform::ascii_iequal(rel.substr(0, item.size()), item)) continue;
        if (rel.size() == item.size() || rel[item.size()] == u'\\') return true;
    }
    return false;
}

}  // namespace holvar::txn::plan
