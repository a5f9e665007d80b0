#include "platform/security_types.hpp"

#include <charconv>

namespace holvar::platform {
namespace {

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void set_u32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t sid_length_at(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    size_t len = 8 + 4 * static_cast<size_t>(data[1]);
    if (data[0] != 1 || data[1] > 15 || len > size) return 0;
    return len;
}

}  // namespace

Sid make_sid(uint64_t authority, const std::vector<uint32_t>& sub_authorities) {
    Sid sid;
    sid.bytes.push_back(1);
    sid.bytes.push_back(static_cast<uint8_t>(sub_authorities.size()));
    for (int i = 5; i >= 0; --i) sid.bytes.push_back(static_cast<uint8_t>(authority >> (8 * i)));
    for (uint32_t s : sub_authorities) put_u32(sid.bytes, s);
    return sid;
}

bool sid_is_valid(const std::vector<uint8_t>& bytes) {
    return !bytes.empty() && sid_length_at(bytes.data(), bytes.size()) == bytes.size();
}

std::string sid_to_string(const Sid& sid) {
    if (!sid_is_valid(sid.bytes)) return "S-invalid";
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid.bytes[2 + i];
    std::string out = "S-1-" + std::to_string(authority);
    for (size_t i = 0; i < sid.bytes[1]; ++i)
        out += "-" + std::to_string(get_u32(sid.bytes.data() + 8 + 4 * i));
    return out;
}

Result<Sid> sid_from_string(const std::u16string& text) {
    // "S-1-<authority>(-<sub>){0,15}" with decimal numbers.
    std::string ascii;
    for (char16_t c : text) {
        if (c > 0x7F) return win32_error(win32::invalid_sid);
        ascii.push_back(static_cast<char>(c));
    }
    if (ascii.size() < 4 || (ascii[0] != 'S' && ascii[0] != 's') || ascii[1] != '-')
        return win32_error(win32::invalid_sid);
    std::vector<uint64_t> parts;
    size_t pos = 2;
    while (true) {
        size_t end = ascii.find('-', pos);
        if (end == std::string::npos) end = ascii.size();
        uint64_t v = 0;
        auto [p, ec] = std::from_chars(ascii.data() + pos, ascii.data() + end, v);
        if (ec != std::errc{} || p != ascii.data() + end || end == pos)
            return win32_error(win32::invalid_sid);
        parts.push_back(v);
        if (end == ascii.size()) break;
        pos = end + 1;
    }
    if (parts.size() < 2 || parts[0] != 1 || parts.size() > 17) return win32_error(win32::invalid_sid);
    if (parts[1] > 0xFFFFFFFFFFFFull) return win32_error(win32::invalid_sid);
    std::vector<uint32_t> subs;
    for (size_t i = 2; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFull) return win32_error(win32::invalid_sid);
        subs.push_back(static_cast<uint32_t>(parts[i]));
    }
    return make_sid(parts[1], subs);
}

std::vector<uint8_t> encode_acl(const Acl& acl) {
    std::vector<uint8_t> out = {2, 0, 0, 0, 0, 0, 0, 0};  // revision 2, size and count patched below
    for (const Ace& ace : acl.aces) {
        uint16_t size = ace.size != 0 ? ace.size : static_cast<uint16_t>(8 + ace.sid.bytes.size());
        size_t start = out.size();
        out.push_back(ace.type);
        out.push_back(ace.flags);
        put_u16(out, size);
        put_u32(out, ace.mask);
        out.insert(out.end(), ace.sid.bytes.begin(), ace.sid.bytes.end());
        out.resize(std::max(out.size(), start + size), 0);
        out.resize(start + size);
    }
    out[2] = static_cast<uint8_t>(out.size());
    out[3] = static_cast<uint8_t>(out.size() >> 8);
    out[4] = static_cast<uint8_t>(acl.aces.size());
    out[5] = static_cast<uint8_t>(acl.aces.size() >> 8);
    return out;
}

Result<Acl> decode_acl(const uint8_t* data, size_t size) {
    if (size < 8) return win32_error(win32::invalid_parameter);
    size_t acl_size = get_u16(data + 2);
    size_t count = get_u16(data + 4);
    if (acl_size < 8 || acl_size > size) return win32_error(win32::invalid_parameter);
    Acl acl;
    size_t pos = 8;
    for (size_t i = 0; i < count; ++i) {
        if (pos + 4 > acl_size) return win32_error(win32::invalid_parameter);
        Ace ace;
        ace.type = data[pos];
        ace.flags = data[pos + 1];
        ace.size = get_u16(data + pos + 2);
        if (ace.size < 4 || pos + ace.size > acl_size) return win32_error(win32::invalid_parameter);
        if (ace.size >= 8) ace.mask = get_u32(data + pos + 4);
        if (ace.type <= SYSTEM_ALARM_ACE_TYPE && ace.size > 8) {
            size_t len = sid_length_at(data + pos + 8, ace.size - 8);
            if (len != 0) ace.sid.bytes.assign(data + pos + 8, data + pos + 8 + len);
        }
        acl.aces.push_back(std::move(ace));
        pos += acl.aces.back().size;
    }
    return acl;
}

SecurityDescriptor encode_security_descriptor(const SecurityParts& parts) {
    std::vector<uint8_t> out(20, 0);
    out[0] = 1;
    uint16_t control = SE_SELF_RELATIVE;
    if (parts.dacl_present) control |= SE_DACL_PRESENT;
    if (parts.dacl_protected) control |= SE_DACL_PROTECTED;
    out[2] = static_cast<uint8_t>(control);
    out[3] = static_cast<uint8_t>(control >> 8);
    if (parts.owner) {
        set_u32(out, 4, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), parts.owner->bytes.begin(), parts.owner->bytes.end());
    }
    if (parts.group) {
        set_u32(out, 8, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), parts.group->bytes.begin(), parts.group->bytes.end());
    }
    if (parts.dacl_present && parts.dacl) {
        set_u32(out, 16, static_cast<uint32_t>(out.size()));
        auto acl = encode_acl(*parts.dacl);
        out.insert(out.end(), acl.begin(), acl.end());
    }
    return SecurityDescriptor{std::move(out)};
}

Result<SecurityParts> decode_security_descriptor(const SecurityDescriptor& sd) {
    const auto& b = sd.bytes;
    if (b.size() < 20 || b[0] != 1) return win32_error(win32::invalid_parameter);
    uint16_t control = get_u16(b.data() + 2);
    SecurityParts parts;
    parts.dacl_present = (control & SE_DACL_PRESENT) != 0;
    parts.dacl_protected = (control & SE_DACL_PROTECTED) != 0;
    auto read_sid = [&](size_t at) -> Result<std::optional<Sid>> {
        uint32_t off = get_u32(b.data() + at);
        if (off == 0) return std::optional<Sid>{};
        if (off >= b.size()) return win32_error(win32::invalid_parameter);
        size_t len = sid_length_at(b.data() + off, b.size() - off);
        if (len == 0) return win32_error(win32::invalid_parameter);
        return std::optional<Sid>(Sid{{b.begin() + off, b.begin() + off + len}});
    };
    auto owner = read_sid(4);
    if (!owner) return std::unexpected(owner.error());
    auto group = read_sid(8);
    if (!group) return std::unexpected(group.error());
    parts.owner = *owner;
    parts.group = *group;
    uint32_t dacl_off = get_u32(b.data() + 16);
    if (parts.dacl_present && dacl_off != 0) {
        if (dacl_off >= b.size()) return win32_error(win32::invalid_parameter);
        auto acl = decode_acl(b.data() + dacl_off, b.size() - dacl_off);
        if (!acl) return std::unexpected(acl.error());
        parts.dacl = std::move(*acl);
    }
    return parts;
}

}  // namespace holvar::platform
