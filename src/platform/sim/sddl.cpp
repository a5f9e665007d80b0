#include "platform/sim/sddl.hpp"

#include <algorithm>
#include <charconv>
#include <utility>

#include "platform/sim/security_model.hpp"
#include "platform/win_types.hpp"

namespace holvar::sim {

using platform::Ace;
using platform::Result;
using platform::Sid;
using platform::win32_error;
namespace win32 = platform::win32;

namespace {

constexpr std::pair<std::u16string_view, uint32_t> kRights[] = {
    {u"FA", platform::FILE_ALL_ACCESS},
    {u"FR", 0x120089},
    {u"FW", 0x120116},
    {u"FX", 0x1200A0},
    {u"GA", platform::GENERIC_ALL},
    {u"GR", platform::GENERIC_READ},
    {u"GW", platform::GENERIC_WRITE},
    {u"GX", platform::GENERIC_EXECUTE},
    {u"SD", platform::DELETE},
    {u"RC", platform::READ_CONTROL},
    {u"WD", platform::WRITE_DAC},
    {u"WO", platform::WRITE_OWNER},
};

constexpr std::pair<std::u16string_view, uint8_t> kAceFlags[] = {
    {u"OI", platform::OBJECT_INHERIT_ACE},
    {u"CI", platform::CONTAINER_INHERIT_ACE},
    {u"NP", platform::NO_PROPAGATE_INHERIT_ACE},
    {u"IO", platform::INHERIT_ONLY_ACE},
    {u"ID", platform::INHERITED_ACE},
};

// A run of two-letter codes ("OICI", "GRGX"), each from `table`, or'ed together.
template <class T, size_t N>
Result<T> parse_two_letter_codes(std::u16string_view t,
                                 const std::pair<std::u16string_view, T> (&table)[N]) {
    if (t.size() % 2 != 0) return win32_error(win32::invalid_parameter);
    T bits = 0;
    for (size_t i = 0; i < t.size(); i += 2) {
        auto code = t.substr(i, 2);
        auto it = std::find_if(std::begin(table), std::end(table),
                               [&](const auto& entry) { return entry.first == code; });
        if (it == std::end(table)) return win32_error(win32::invalid_parameter);
        bits = static_cast<T>(bits | it->second);
    }
    return bits;
}

Result<uint32_t> parse_rights(std::u16string_view t) {
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) {
        std::string ascii;
        for (char16_t c : t.substr(2)) {
            if (c > 0x7F) return win32_error(win32::invalid_parameter);
            ascii.push_back(static_cast<char>(c));
        }
        uint32_t v = 0;
        auto [p, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v, 16);
        if (ec != std::errc{} || p != ascii.data() + ascii.size())
            return win32_error(win32::invalid_parameter);
        return v;
    }
    return parse_two_letter_codes(t, kRights);
}

Result<uint8_t> parse_ace_flags(std::u16string_view t) {
    return parse_two_letter_codes(t, kAceFlags);
}

// "(A;OICI;FA;;;SY)" without the parentheses.
Result<Ace> parse_ace(std::u16string_view body) {
    std::u16string_view f[6];
    size_t n = 0, start = 0;
    for (size_t i = 0; i <= body.size(); ++i) {
        if (i == body.size() || body[i] == u';') {
            if (n == 6) return win32_error(win32::invalid_parameter);
            f[n++] = body.substr(start, i - start);
            start = i + 1;
        }
    }
    if (n != 6 || !f[3].empty() || !f[4].empty()) return win32_error(win32::invalid_parameter);
    Ace ace;
    if (f[0] == u"A") {
        ace.type = platform::ACCESS_ALLOWED_ACE_TYPE;
    } else if (f[0] == u"D") {
        ace.type = platform::ACCESS_DENIED_ACE_TYPE;
    } else {
        return win32_error(win32::invalid_parameter);
    }
    auto flags = parse_ace_flags(f[1]);
    if (!flags) return std::unexpected(flags.error());
    auto mask = parse_rights(f[2]);
    if (!mask) return std::unexpected(mask.error());
    auto sid = parse_sddl_sid(f[5]);
    if (!sid) return std::unexpected(sid.error());
    ace.flags = *flags;
    ace.mask = *mask;
    ace.sid = std::move(*sid);
    ace.size = static_cast<uint16_t>(8 + ace.sid.bytes.size());
    return ace;
}

}  // namespace

Result<Sid> parse_sddl_sid(std::u16string_view t) {
    if (t == u"SY") return system_sid();
    if (t == u"BA") return administrators_sid();
    if (t == u"BU") return users_sid();
    if (t == u"WD") return everyone_sid();
    if (t == u"AU") return authenticated_users_sid();
    if (t == u"CO") return creator_owner_sid();
    if (t.size() >= 2 && (t[0] == u'S' || t[0] == u's') && t[1] == u'-')
        return platform::sid_from_string(std::u16string(t));
    return win32_error(win32::invalid_sid);
}

Result<platform::SecurityParts> parse_sddl(const std::u16string& text) {
    platform::SecurityParts parts;
    size_t pos = 0;
    // No colon appears inside a section, so the next one marks the next tag.
    auto section_end = [&](size_t from) {
        size_t colon = text.find(u':', from);
        return colon == std::u16string::npos ? text.size() : colon - 1;
    };
    while (pos < text.size()) {
        if (pos + 1 >= text.size() || text[pos + 1] != u':')
            return win32_error(win32::invalid_parameter);
        char16_t tag = text[pos];
        size_t body_start = pos + 2;
        size_t end = section_end(body_start);
        if (end < body_start) return win32_error(win32::invalid_parameter);
        std::u16string_view body(text.data() + body_start, end - body_start);
        if (tag == u'O' || tag == u'G') {
            auto sid = parse_sddl_sid(body);
            if (!sid) return std::unexpected(sid.error());
            (tag == u'O' ? parts.owner : parts.group) = std::move(*sid);
        } else if (tag == u'D') {
            parts.dacl_present = true;
            parts.dacl = platform::Acl{};
            size_t i = 0;
            while (i < body.size() && body[i] != u'(') {
                if (body.substr(i, 2) == u"AI") {
                    i += 2;  // auto-inherited: no effect on what the engine reads
                } else if (body[i] == u'P') {
                    parts.dacl_protected = true;
                    ++i;
                } else if (body.substr(i, 4) == u"NO_A") {
                    return win32_error(win32::invalid_parameter);
                } else {
                    return win32_error(win32::invalid_parameter);
                }
            }
            while (i < body.size()) {
                if (body[i] != u'(') return win32_error(win32::invalid_parameter);
                size_t close = body.find(u')', i);
                if (close == std::u16string_view::npos)
                    return win32_error(win32::invalid_parameter);
                auto ace = parse_ace(body.substr(i + 1, close - i - 1));
                if (!ace) return std::unexpected(ace.error());
                parts.dacl->aces.push_back(std::move(*ace));
                i = close + 1;
            }
        } else {
            return win32_error(win32::invalid_parameter);
        }
        pos = end;
    }
    return parts;
}

}  // namespace holvar::sim
