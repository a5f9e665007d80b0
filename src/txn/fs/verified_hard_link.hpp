// A second name for a file, confirmed to name the expected file.
#pragma once

#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::fs {

// CreateHardLinkW(link, existing), then a probe of `link`: it must be a file
// with `expected_file_id`. Otherwise (something else took the name, or the
// probe failed) the object now named `link` is verified and deleted by handle,
// and the call fails with "foreign_identity"; when that clean-up itself fails,
// its error is returned and the link may remain.
platform::Status create_verified_hard_link(platform::Os& os, std::u16string_view existing,
                                           std::u16string_view link,
                                           const FileId& expected_file_id);

}  // namespace holvar::txn::fs
