#include "txn/fs/verified_rename.hpp"

#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Status verified_rename(p::Os& os, std::u16string_view source, std::u16string_view target,
                          ObjectKind expected_kind, const FileId& expected_file_id, bool replace) {
    // A target that could never be used is refused before the source is opened.
    if (auto wide = wide_path(target); !wide) return std::unexpected(wide.error());
    auto handle = open_object(os, source, kRenameDeleteAccess);
    if (!handle) return std::unexpected(handle.error());
    if (auto verified = verify_handle(os, *handle, expected_kind, expected_file_id, source);
        !verified)
        return verified;
    return rename_by_handle(os, *handle, target, replace);
}

}  // namespace holvar::txn::fs
