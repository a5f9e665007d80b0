#include "txn/fs/retrying.hpp"

#include <algorithm>

#include "txn/fs/handle_ops.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

bool is_retryable(const p::Error& error) {
    return error.is_win32(p::win32::access_denied) || error.is_win32(p::win32::sharing_violation) ||
           error.is_win32(p::win32::lock_violation) || error.is_win32(p::win32::user_mapped_file);
}

namespace {

p::Result<p::Handle> open_retrying(p::Os& os, std::u16string_view path, uint32_t access,
                                   uint32_t share, RetryBudget& budget) {
    auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    return retry_within(os, budget, [&] {
        return os.files.create_file(*wide, access, share, p::OPEN_EXISTING, kNoFollowFlags);
    });
}

}  // namespace

p::Result<p::Handle> open_for_delete_retrying(p::Os& os, std::u16string_view path,
                                              RetryBudget& budget) {
    return open_retrying(os, path, kDeleteRetryAccess, kShareAll, budget);
}

p::Result<p::Handle> open_directory_for_delete_retrying(p::Os& os, std::u16string_view path,
                                                        RetryBudget& budget) {
    return open_retrying(os, path, kDirectoryDeleteRetryAccess, kDirectoryDeleteRetryShare, budget);
}

p::Status delete_by_handle_retrying(p::Os& os, const p::Handle& handle, RetryBudget& budget) {
    return retry_within(os, budget, [&] { return delete_by_handle(os, handle); });
}

}  // namespace holvar::txn::fs
