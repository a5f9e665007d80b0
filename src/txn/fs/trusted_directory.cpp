#include "txn/fs/trusted_directory.hpp"

namespace holvar::txn::fs {

using namespace platform;

namespace {

// Open for the ownership check: read control and attributes, never following
// a reparse point, with backup semantics so a directory can be opened at all.
constexpr uint32_t trust_check_access = READ_CONTROL | FILE_READ_ATTRIBUTES;  // 0x20080
constexpr uint32_t directory_mask = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

bool owner_is(Os& os, const Sid& owner, uint32_t well_known) {
    Result<Sid> sid = os.security.create_well_known_sid(well_known);
    return sid && os.security.equal_sid(owner, *sid);
}

}  // namespace

Status is_trusted_directory(Os& os, const std::u16string& path) {
    Result<Handle> handle = os.files.create_file(path, trust_check_access, FILE_SHARE_ALL,
                                                 OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!handle) return std::unexpected(handle.error());

    // The identity query must succeed as well, though only the attributes decide.
    Result<FileIdInfo> id = os.files.get_file_id_info(*handle);
    if (!id) return std::unexpected(id.error());
    Result<FileBasicInfo> basic = os.files.get_file_basic_info(*handle);
    if (!basic) return std::unexpected(basic.error());
    // A real directory: the directory bit set and no reparse point (a junction
    // owned by SYSTEM can still lead anywhere).
    if ((basic->file_attributes & directory_mask) != FILE_ATTRIBUTE_DIRECTORY)
        return foreign_identity();

    Result<SecurityDescriptor> sd =
        os.security.get_security_info(*handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION);
    if (!sd) return std::unexpected(sd.error());
    Result<SecurityParts> parts = decode_security_descriptor(*sd);
    if (!parts || !parts->owner) return foreign_identity();

    if (owner_is(os, *parts->owner, WinLocalSystemSid) ||
        owner_is(os, *parts->owner, WinBuiltinAdministratorsSid))
        return {};
    return foreign_identity();
}

}  // namespace holvar::txn::fs
