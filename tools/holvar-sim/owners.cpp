#include "owners.hpp"

#include <utility>
#include <vector>

#include "platform/sim/machine.hpp"

namespace holvar::simtool {
namespace {

using platform::Sid;

struct NamedSid {
    std::u16string_view name;
    Sid sid;
};

const std::vector<NamedSid>& well_known() {
    static const std::vector<NamedSid> table = [] {
        const auto from = [](const char16_t* text) { return *platform::sid_from_string(text); };
        return std::vector<NamedSid>{
            {u"system", from(platform::sids::local_system)},
            {u"administrators", from(platform::sids::administrators)},
            {u"trustedinstaller", from(platform::sids::trusted_installer)},
            {u"users", from(platform::sids::users)},
            {u"everyone", from(platform::sids::everyone)},
            {u"authenticated_users", from(platform::sids::authenticated_users)},
            {u"user", sim::user_token().user},
            {u"admin", sim::admin_token().user},
        };
    }();
    return table;
}

}  // namespace

std::optional<Sid> parse_owner(std::u16string_view name) {
    if (name == u"admins") name = u"administrators";
    for (const auto& entry : well_known()) {
        if (entry.name == name) return entry.sid;
    }
    if (name.starts_with(u"S-")) {
        auto sid = platform::sid_from_string(std::u16string(name));
        if (sid) return *sid;
    }
    return std::nullopt;
}

std::string describe_owner(const Sid& sid) {
    for (const auto& entry : well_known()) {
        if (entry.sid == sid) return std::string(entry.name.begin(), entry.name.end());
    }
    return platform::sid_to_string(sid);
}

}  // namespace holvar::simtool
