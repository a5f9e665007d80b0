// Reading base\rel one plain directory at a time, so that a path which would
// pass through a junction or symbolic link reads as absent instead of followed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/pinned_folders.hpp"

namespace holvar::txn::fs {

// The components of a relative path: either separator, repeated separators
// and "." inside the path collapse away. Fails with "empty relative path"
// when nothing is left, and with "invalid relative path" for a drive or UNC
// prefix, a root separator, a leading "." or a "..".
platform::Result<std::vector<std::u16string>> split_relative(std::u16string_view rel);

// The probe of base\rel. Every intermediate component must be a plain
// directory; otherwise the whole path is absent and nothing further is probed.
// The intermediate folders go through `pins` when given.
platform::Result<ObjectProbe> resolve_relative(platform::Os& os, std::u16string_view base,
                                               std::u16string_view rel,
                                               PinnedFolders* pins = nullptr);

}  // namespace holvar::txn::fs
