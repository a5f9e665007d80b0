// The one way a managed object is moved: open it without following links,
// confirm it is the expected object at the expected place, rename the handle.
#pragma once

#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::fs {

// Opens `source` for DELETE | FILE_READ_ATTRIBUTES, verifies it against
// (`expected_kind`, `expected_file_id`, `source`) and renames it to `target`
// (replacing an existing target when `replace` is set). The handle is closed
// on every path; nothing moves unless the verification passed.
platform::Status verified_rename(platform::Os& os, std::u16string_view source,
                                 std::u16string_view target, ObjectKind expected_kind,
                                 const FileId& expected_file_id, bool replace);

}  // namespace holvar::txn::fs
