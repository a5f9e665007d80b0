// Security identifiers, ACLs and security descriptors in their binary Windows
// layout. Both sides of the boundary hand these over as bytes, so the engine
// reads an owner or walks a DACL the same way whichever side produced them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.hpp"

namespace holvar::platform {

// A SID in binary form: revision 1, sub-authority count, 48-bit big-endian
// identifier authority, then the sub-authorities as 32-bit little-endian values.
struct Sid {
    std::vector<uint8_t> bytes;
    friend bool operator==(const Sid&, const Sid&) = default;
};

// ACE types the engine distinguishes.
inline constexpr uint8_t ACCESS_ALLOWED_ACE_TYPE = 0;
inline constexpr uint8_t ACCESS_DENIED_ACE_TYPE = 1;
inline constexpr uint8_t SYSTEM_AUDIT_ACE_TYPE = 2;
inline constexpr uint8_t SYSTEM_ALARM_ACE_TYPE = 3;
inline constexpr uint8_t ACCESS_ALLOWED_OBJECT_ACE_TYPE = 5;

// ACE flags.
inline constexpr uint8_t OBJECT_INHERIT_ACE = 0x1;
inline constexpr uint8_t CONTAINER_INHERIT_ACE = 0x2;
inline constexpr uint8_t NO_PROPAGATE_INHERIT_ACE = 0x4;
inline constexpr uint8_t INHERIT_ONLY_ACE = 0x8;
inline constexpr uint8_t INHERITED_ACE = 0x10;

// Security descriptor control bits.
inline constexpr uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr uint16_t SE_DACL_PROTECTED = 0x1000;
inline constexpr uint16_t SE_SELF_RELATIVE = 0x8000;

// One ACE as GetAce yields it: header (type, flags, size), mask and SID.
// For the simple ACE types (0 to 3) the SID follows the mask directly.
struct Ace {
    uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
    uint8_t flags = 0;
    uint16_t size = 0;  // AceSize as stored in the header
    uint32_t mask = 0;
    Sid sid;
    friend bool operator==(const Ace&, const Ace&) = default;
};

struct Acl {
    std::vector<Ace> aces;
    friend bool operator==(const Acl&, const Acl&) = default;
};

// A self-relative security descriptor (SECURITY_DESCRIPTOR_RELATIVE layout).
struct SecurityDescriptor {
    std::vector<uint8_t> bytes;
    friend bool operator==(const SecurityDescriptor&, const SecurityDescriptor&) = default;
};

// The parsed parts of a descriptor.
struct SecurityParts {
    std::optional<Sid> owner;
    std::optional<Sid> group;
    bool dacl_present = false;
    std::optional<Acl> dacl;  // absent when no DACL is present (a NULL DACL)
    bool dacl_protected = false;
};

// Pure codecs shared by both sides of the boundary.
Sid make_sid(uint64_t authority, const std::vector<uint32_t>& sub_authorities);
bool sid_is_valid(const std::vector<uint8_t>& bytes);
std::string sid_to_string(const Sid& sid);                  // "S-1-5-18"
Result<Sid> sid_from_string(const std::u16string& text);    // strict S-R-A-S... form
std::vector<uint8_t> encode_acl(const Acl& acl);
Result<Acl> decode_acl(const uint8_t* data, size_t size);
SecurityDescriptor encode_security_descriptor(const SecurityParts& parts);
Result<SecurityParts> decode_security_descriptor(const SecurityDescriptor& sd);

// Well-known SIDs by their string form.
namespace sids {
inline constexpr const char16_t* local_system = u"S-1-5-18";
inline constexpr const char16_t* administrators = u"S-1-5-32-544";
inline constexpr const char16_t* users = u"S-1-5-32-545";
inline constexpr const char16_t* everyone = u"S-1-1-0";
inline constexpr const char16_t* authenticated_users = u"S-1-5-11";
inline constexpr const char16_t* trusted_installer =
    u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}  // namespace sids

}  // namespace holvar::platform
