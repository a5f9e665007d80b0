#include "txn/fs/trusted_directory.hpp"

#include "managed_v3/identity/path_walk.hpp"
#include "txn/test_seam.hpp"

namespace holvar::txn::fs {

using namespace platform;

namespace {

// Open for the trust check: read control and attributes, never following a
// reparse point, with backup semantics so a directory can be opened at all.
constexpr uint32_t trust_check_access = READ_CONTROL | FILE_READ_ATTRIBUTES;  // 0x20080
constexpr uint32_t pin_access = READ_CONTROL | FILE_READ_DATA | FILE_READ_ATTRIBUTES;
constexpr uint32_t pin_share = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr uint32_t directory_mask = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// The directory behind the handle may be trusted.
Status check_directory(Os& os, const Handle& handle) {
    // The identity query must succeed as well, though only the attributes decide.
    Result<FileIdInfo> id = os.files.get_file_id_info(handle);
    if (!id) return std::unexpected(id.error());
    Result<FileBasicInfo> basic = os.files.get_file_basic_info(handle);
    if (!basic) return std::unexpected(basic.error());
    // A real directory: the directory bit set and no reparse point (a junction
    // owned by SYSTEM can still lead anywhere).
    if ((basic->file_attributes & directory_mask) != FILE_ATTRIBUTE_DIRECTORY)
        return foreign_identity();
    return is_trusted_object(os, handle);
}

}  // namespace

Status is_trusted_object(Os& os, const Handle& handle) {
    // The trusted walk's own rule for everything below a volume root: the
    // rights to add files and folders count as writing here too.
    std::optional<v3::PathWalkFailure> failed =
        v3::check_object_security(os, handle, v3::kWriteMask, true);
    if (!failed) return {};
    if (seam::broken(seam::Breakage::trust_by_owner_only) &&
        failed->reason == v3::PathWalkReason::untrusted_writer)
        return {};
    if (failed->reason == v3::PathWalkReason::security_query_failed && failed->win32)
        return win32_error(*failed->win32);
    return foreign_identity();
}

Status is_trusted_directory(Os& os, const std::u16string& path) {
    Result<Handle> handle = os.files.create_file(path, trust_check_access, FILE_SHARE_ALL,
                                                 OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!handle) return std::unexpected(handle.error());
    return check_directory(os, *handle);
}

Result<Handle> pin_trusted_directory(Os& os, const std::u16string& path) {
    Result<Handle> handle =
        os.files.create_file(path, pin_access, pin_share, OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!handle) return std::unexpected(handle.error());
    if (Status trusted = check_directory(os, *handle); !trusted)
        return std::unexpected(trusted.error());
    return std::move(*handle);
}

}  // namespace holvar::txn::fs
