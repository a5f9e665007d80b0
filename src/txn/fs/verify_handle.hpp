// Identity before action: an open handle is the object the journal or the
// plan expects, at the place it expects, or nothing is done with it.
#pragma once

#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/object_identity.hpp"

namespace holvar::txn::fs {

// Succeeds when the handle's object has `expected_kind`, for files and reparse
// points also `expected_file_id`, and the system's final path for it equals
// `expected_path`. Fails with "foreign_identity" on any mismatch (an expected
// kind of absent always mismatches), "final path too long" when the final path
// does not fit the 0x8000-unit buffer, or the Win32 error of a query.
platform::Status verify_handle(platform::Os& os, const platform::Handle& handle,
                               ObjectKind expected_kind, const FileId& expected_file_id,
                               std::u16string_view expected_path);

// The same for a handle whose identity the caller has just read through it
// (`read`): an open handle's object keeps its id, so only the path is asked
// of the system again.
platform::Status verify_handle(platform::Os& os, const platform::Handle& handle,
                               const ObjectIdentity& read, ObjectKind expected_kind,
                               const FileId& expected_file_id, std::u16string_view expected_path);

}  // namespace holvar::txn::fs
