// Whether the installed service and the recorded install location belong to
// this root: a transaction never takes over another installation.
#pragma once

#include <optional>
#include <string>

#include "txn/scm/scm.hpp"

namespace holvar::txn::drivers {

// One pair of surrounding double quotes removed; none when any other double
// quote is left (such a text names no path the engine would accept).
std::optional<std::u16string> unquoted_path(std::u16string_view text);

// The service's image path is <root>\resources\holvar-service.exe and the
// recorded install location is the root, each when present, compared with
// the engine's path equality.
bool root_matches(std::u16string_view root, const scm::ScmSnapshot& service,
                  const std::optional<std::u16string>& install_location);

}  // namespace holvar::txn::drivers
