// Owner names as the tool's user types them and as listings show them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/security_types.hpp"

namespace holvar::simtool {

// "system", "administrators" (or "admins"), "trustedinstaller", "users",
// "everyone", "user" (the machine's ordinary interactive user), "admin" (the
// account of the elevated administrator who runs setup) or a SID string
// such as "S-1-5-21-1-2-3-1001".
std::optional<platform::Sid> parse_owner(std::u16string_view name);

// The short name of a well-known owner, else the SID string.
std::string describe_owner(const platform::Sid& sid);

inline constexpr std::string_view kOwnerNames =
    "system, administrators, trustedinstaller, users, everyone, user, admin or a SID (S-1-...)";

}  // namespace holvar::simtool
