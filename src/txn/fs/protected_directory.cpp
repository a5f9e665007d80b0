#include "txn/fs/protected_directory.hpp"

#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Status create_protected_directory(p::Os& os, std::u16string_view path) {
    auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    auto descriptor = os.security.convert_sddl_to_security_descriptor(
        std::u16string(kProtectedDirectorySddl), p::SDDL_REVISION_1);
    if (!descriptor) return std::unexpected(descriptor.error());
    return os.files.create_directory(*wide, &*descriptor);
}

}  // namespace holvar::txn::fs
