#include "txn/fs/object_identity.hpp"

#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Result<p::Handle> open_object(p::Os& os, std::u16string_view path, uint32_t access,
                                 uint32_t share) {
    auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    return os.files.create_file(*wide, access, share, p::OPEN_EXISTING, kNoFollowFlags);
}

p::Result<ObjectIdentity> read_identity(p::Os& os, const p::Handle& handle) {
    auto id_info = os.files.get_file_id_info(handle);
    if (!id_info) return std::unexpected(id_info.error());
    auto basic = os.files.get_file_basic_info(handle);
    if (!basic) return std::unexpected(basic.error());
    return ObjectIdentity{kind_from_attributes(basic->file_attributes),
                          FileId::from_bytes(id_info->file_id), id_info->volume_serial_number};
}

p::Result<ObjectProbe> probe_path(p::Os& os, std::u16string_view path) {
    auto handle = open_object(os, path, kProbeAccess);
    if (!handle) {
        const p::Error& e = handle.error();
        if (e.is_win32(p::win32::file_not_found) || e.is_win32(p::win32::path_not_found))
            return ObjectProbe{};
        return std::unexpected(e);
    }
    auto identity = read_identity(os, *handle);
    if (!identity) return std::unexpected(identity.error());
    return identity->probe();
}

}  // namespace holvar::txn::fs
