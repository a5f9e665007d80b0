// Opening an object without following links, and reading what it is.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/open_modes.hpp"

namespace holvar::txn::fs {

// What an open handle says about its object.
struct ObjectIdentity {
    ObjectKind kind = ObjectKind::absent;
    FileId id;
    uint64_t volume_serial = 0;

    ObjectProbe probe() const { return ObjectProbe{kind, id}; }
};

// CreateFileW(path, access, share, OPEN_EXISTING, backup semantics | open
// reparse point): the object itself, whether it is a file, a directory or a link.
platform::Result<platform::Handle> open_object(platform::Os& os, std::u16string_view path,
                                               uint32_t access, uint32_t share = kShareAll);

// FileIdInfo first, then FileBasicInfo; the kind comes from the attributes,
// the reparse bit winning over the directory bit.
platform::Result<ObjectIdentity> read_identity(platform::Os& os, const platform::Handle& handle);

// The kind and id of whatever is at `path`; absent when the open finds no file
// (2) or no path (3). The handle is closed before returning.
platform::Result<ObjectProbe> probe_path(platform::Os& os, std::u16string_view path);

}  // namespace holvar::txn::fs
