// The two answers the Wine adapter rewrites rather than replaces, as pure
// functions of what the real call gave: they hold no Windows call, so they are
// checked on any machine.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/os.hpp"
#include "platform/security_types.hpp"

namespace holvar::wine_shims {

// The descriptor with `from` replaced by `to` where it is the owner or the SID
// of an ACE (the ACE resized to its new SID). A descriptor that does not name
// `from` comes back byte for byte.
inline platform::Result<platform::SecurityDescriptor> reassign_sid(
    const platform::SecurityDescriptor& sd, const platform::Sid& from, const platform::Sid& to) {
    auto parts = platform::decode_security_descriptor(sd);
    if (!parts) return std::unexpected(parts.error());
    bool changed = false;
    if (parts->owner && *parts->owner == from) {
        parts->owner = to;
        changed = true;
    }
    if (parts->dacl) {
        for (platform::Ace& ace : parts->dacl->aces) {
            if (ace.sid != from) continue;
            ace.sid = to;
            ace.size = 0;  // recomputed from the new SID
            changed = true;
        }
    }
    if (!changed) return sd;
    return platform::encode_security_descriptor(*parts);
}

// A TokenUser answer in the boundary's form (the SID's offset, attributes,
// padding, the SID) naming `user`, the attributes kept. Anything but a whole
// answer (a size probe, a failure) comes back as it was.
inline platform::TokenInformation token_user_as(const platform::TokenInformation& real,
                                                const platform::Sid& user) {
    constexpr size_t header = 16;
    if (real.last_error != 0 || real.bytes.size() < header) return real;
    platform::TokenInformation out = real;
    out.bytes.resize(header);
    const uint64_t offset = header;
    std::memcpy(out.bytes.data(), &offset, sizeof(offset));
    out.bytes.insert(out.bytes.end(), user.bytes.begin(), user.bytes.end());
    out.return_length = static_cast<uint32_t>(out.bytes.size());
    return out;
}

}  // namespace holvar::wine_shims
