// Security on the simulated machine: the SIDs of tokens, who a token counts as,
// the DACL an object inherits from its parent, and the access check of an open.
#pragma once

#include <optional>
#include <vector>

#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::sim {

platform::Sid sid_of(const char16_t* text);  // a well-formed "S-1-..." literal
const platform::Sid& system_sid();
const platform::Sid& administrators_sid();
const platform::Sid& users_sid();
const platform::Sid& everyone_sid();
const platform::Sid& authenticated_users_sid();
const platform::Sid& trusted_installer_sid();
const platform::Sid& creator_owner_sid();

// Whether a token counts as `sid`: its user, Everyone and Authenticated
// Users; for SYSTEM, BUILTIN\Administrators; for anyone else BUILTIN\Users,
// and BUILTIN\Administrators only when elevated.
bool token_has_sid(const Token& t, const platform::Sid& sid);
// Who owns what the token creates: LocalSystem for SYSTEM, BUILTIN\Administrators
// for an elevated administrator (as Windows sets the token's default owner),
// the user otherwise.
platform::Sid token_default_owner(const Token& t);
bool token_is_admin(const Token& t);

// Generic rights mapped to the file-specific ones (FILE_GENERIC_READ, ...).
uint32_t map_generic_file(uint32_t mask);

// The ACL a new object inherits: OBJECT_INHERIT entries reach files,
// CONTAINER_INHERIT entries reach directories (an OBJECT_INHERIT-only entry
// passes to a directory as inherit-only for its files), NO_PROPAGATE stops at
// the first generation; CREATOR OWNER becomes the new owner and generic rights
// are mapped in the copy that takes effect.
platform::Acl inherit_acl(const std::optional<platform::Acl>& parent_dacl, bool is_directory,
                          const platform::Sid& owner);

// The rights of `desired` that the DACL grants the token: deny entries first
// in order, as Windows evaluates a canonical ACL; the owner always has
// READ_CONTROL and WRITE_DAC. No DACL grants everything.
uint32_t granted_access(const std::optional<platform::Acl>& dacl, const platform::Sid& owner,
                        const Token& t, uint32_t desired);

}  // namespace holvar::sim
