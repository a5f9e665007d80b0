// The identity of the install root (or the stage directory), taken when the
// transaction is planned and kept in its journal.
#pragma once

#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::fs {

// Opens `path` when `exists`, else its parent (the directory the root is about
// to be created in), and reads FileIdInfo: the volume serial always, the file
// id only when `path` itself was opened. A path that is not valid Unicode is
// refused with "invalid path" before any call: the journal stores it as UTF-8.
platform::Result<RootIdentity> capture_root_identity(platform::Os& os, std::u16string_view path,
                                                     bool exists);

}  // namespace holvar::txn::fs
