#include "txn/fs/verified_hard_link.hpp"

#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Status create_verified_hard_link(p::Os& os, std::u16string_view existing,
                                    std::u16string_view link, const FileId& expected_file_id) {
    auto wide_existing = wide_path(existing);
    if (!wide_existing) return std::unexpected(wide_existing.error());
    auto wide_link = wide_path(link);
    if (!wide_link) return std::unexpected(wide_link.error());
    if (auto linked = os.files.create_hard_link(*wide_link, *wide_existing); !linked) return linked;

    auto probe = probe_path(os, link);
    if (probe && probe->is(ObjectKind::file, expected_file_id)) return {};

    // The new name does not reach the expected file (the existing name was
    // swapped before the link was made). Remove exactly the object now named
    // `link`, confirmed by handle, and refuse.
    auto handle = open_object(os, link, kRenameDeleteAccess);
    if (!handle) return std::unexpected(handle.error());
    auto identity = read_identity(os, *handle);
    if (!identity) return std::unexpected(identity.error());
    if (auto verified = verify_handle(os, *handle, *identity, identity->kind, identity->id, link);
        !verified)
        return verified;
    if (auto deleted = delete_by_handle(os, *handle); !deleted) return deleted;
    return p::foreign_identity();
}

}  // namespace holvar::txn::fs
