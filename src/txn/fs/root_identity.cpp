#include "txn/fs/root_identity.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Result<RootIdentity> capture_root_identity(p::Os& os, std::u16string_view path, bool exists) {
    if (!p::is_valid_utf16(path)) return p::invalid_data("invalid path");
    std::u16string opened(path);
    if (!exists) {
        auto parent = p::parent_path(path);
        if (!parent || parent->empty()) return p::invalid_data("invalid path");
        opened = std::move(*parent);
    }
    auto handle = open_object(os, opened, kProbeAccess);
    if (!handle) return std::unexpected(handle.error());
    auto info = os.files.get_file_id_info(*handle);
    if (!info) return std::unexpected(info.error());
    RootIdentity identity;
    identity.path = std::u16string(path);
    identity.volume_serial = info->volume_serial_number;
    if (exists) identity.file_id = FileId::from_bytes(info->file_id);
    return identity;
}

}  // namespace holvar::txn::fs
