#include "platform/sim/security_model.hpp"

#include <algorithm>

#include "platform/win_types.hpp"

namespace holvar::sim {

using platform::Ace;
using platform::Acl;
using platform::Sid;

Sid sid_of(const char16_t* text) {
    auto sid = platform::sid_from_string(text);
    return sid ? *sid : Sid{};
}
// The well-known SIDs are parsed once: every access check asks for them.
const Sid& system_sid() {
    static const Sid sid = sid_of(platform::sids::local_system);
    return sid;
}
const Sid& administrators_sid() {
    static const Sid sid = sid_of(platform::sids::administrators);
    return sid;
}
const Sid& users_sid() {
    static const Sid sid = sid_of(platform::sids::users);
    return sid;
}
const Sid& everyone_sid() {
    static const Sid sid = sid_of(platform::sids::everyone);
    return sid;
}
const Sid& authenticated_users_sid() {
    static const Sid sid = sid_of(platform::sids::authenticated_users);
    return sid;
}
const Sid& trusted_installer_sid() {
    static const Sid sid = sid_of(platform::sids::trusted_installer);
    return sid;
}
const Sid& creator_owner_sid() {
    static const Sid sid = sid_of(u"S-1-3-0");
    return sid;
}

Token admin_token() {
    return Token{sid_of(u"S-1-5-21-1004336348-1177238915-682003330-1001"),
                 true,
                 {u"SeBackupPrivilege", u"SeRestorePrivilege", u"SeDebugPrivilege",
                  u"SeTakeOwnershipPrivilege", u"SeShutdownPrivilege"}};
}
Token system_token() {
    return Token{system_sid(),
                 true,
                 {u"SeBackupPrivilege", u"SeRestorePrivilege", u"SeDebugPrivilege",
                  u"SeTakeOwnershipPrivilege", u"SeTcbPrivilege"}};
}
Token user_token() {
    return Token{sid_of(u"S-1-5-21-1004336348-1177238915-682003330-1002"),
                 false,
                 {u"SeShutdownPrivilege", u"SeChangeNotifyPrivilege"}};
}

bool token_is_admin(const Token& t) {
    return t.user == system_sid() || t.elevated;
}

bool token_has_sid(const Token& t, const Sid& sid) {
    if (sid == t.user || sid == everyone_sid() || sid == authenticated_users_sid()) return true;
    if (t.user == system_sid()) return sid == administrators_sid();
    return sid == users_sid() || (t.elevated && sid == administrators_sid());
}

Sid token_default_owner(const Token& t) {
    if (t.user == system_sid()) return system_sid();
    if (t.elevated) return administrators_sid();
    return t.user;
}

uint32_t map_generic_file(uint32_t mask) {
    using namespace platform;
    uint32_t out = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (mask & GENERIC_READ) out |= 0x120089;     // FILE_GENERIC_READ
    if (mask & GENERIC_WRITE) out |= 0x120116;    // FILE_GENERIC_WRITE
    if (mask & GENERIC_EXECUTE) out |= 0x1200A0;  // FILE_GENERIC_EXECUTE
    if (mask & GENERIC_ALL) out |= FILE_ALL_ACCESS;
    return out;
}

Acl inherit_acl(const std::optional<Acl>& parent_dacl, bool is_directory, const Sid& owner) {
    using namespace platform;
    Acl out;
    if (!parent_dacl) return out;
    const Sid creator = creator_owner_sid();
    for (const Ace& ace : parent_dacl->aces) {
        bool oi = ace.flags & OBJECT_INHERIT_ACE;
        bool ci = ace.flags & CONTAINER_INHERIT_ACE;
        bool np = ace.flags & NO_PROPAGATE_INHERIT_ACE;
        auto effective = [&] {
            Ace e = ace;
            e.flags = INHERITED_ACE;
            e.mask = map_generic_file(ace.mask);
            if (e.sid == creator) e.sid = owner;
            e.size = 0;
            return e;
        };
        if (!is_directory) {
            if (oi) out.aces.push_back(effective());
            continue;
        }
        if (ci) {
            bool needs_split = ace.sid == creator || ace.mask != map_generic_file(ace.mask);
            if (np || !needs_split) {
                Ace e = effective();
                if (!np) e.flags |= ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
                if (!np && !needs_split) e.mask = ace.mask;
                out.aces.push_back(e);
            } else {
                out.aces.push_back(effective());
                Ace carried = ace;
                carried.flags = INHERITED_ACE | INHERIT_ONLY_ACE |
                                (ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
                carried.size = 0;
                out.aces.push_back(carried);
            }
        } else if (oi && !np) {
            Ace carried = ace;
            carried.flags = INHERITED_ACE | INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE;
            carried.size = 0;
            out.aces.push_back(carried);
        }
    }
    return out;
}

uint32_t granted_access(const std::optional<Acl>& dacl, const Sid& owner, const Token& t,
                        uint32_t desired) {
    using namespace platform;
    desired = map_generic_file(desired);
    if (!dacl) return desired;
    auto has = [&](const Sid& s) { return token_has_sid(t, s); };
    uint32_t granted = 0, denied = 0;
    if (has(owner)) granted |= READ_CONTROL | WRITE_DAC;
    for (const Ace& ace : dacl->aces) {
        if (ace.flags & INHERIT_ONLY_ACE) continue;
        if (!has(ace.sid)) continue;
        uint32_t mask = map_generic_file(ace.mask);
        if (ace.type == ACCESS_DENIED_ACE_TYPE) {
            denied |= mask & ~granted;
        } else if (ace.type == ACCESS_ALLOWED_ACE_TYPE) {
            granted |= mask & ~denied;
        }
    }
    return desired & granted;
}

}  // namespace holvar::sim
