#include "txn/fs/handle_ops.hpp"

#include "txn/fs/open_modes.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Status rename_by_handle(p::Os& os, const p::Handle& handle, std::u16string_view target,
                           bool replace) {
    // The FILE_RENAME_INFO buffer carries the name's byte length without the
    // NUL after a 20-byte header; wide_path refuses a target of 0x8000 units
    // or more (with its NUL) before the buffer is ever built.
    auto wide = wide_path(target);
    if (!wide) return std::unexpected(wide.error());
    return os.files.set_file_rename_info_ex(handle, *wide,
                                            replace ? kRenameReplaceFlags : kRenameFlags);
}

p::Status delete_by_handle(p::Os& os, const p::Handle& handle) {
    return os.files.set_file_disposition_info_ex(handle, kDispositionFlags);
}

}  // namespace holvar::txn::fs
