#include "txn/fs/verify_handle.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Status verify_handle(p::Os& os, const p::Handle& handle, ObjectKind expected_kind,
                        const FileId& expected_file_id, std::u16string_view expected_path) {
    if (expected_kind == ObjectKind::absent) return p::foreign_identity();
    auto identity = read_identity(os, handle);
    if (!identity) return std::unexpected(identity.error());
    return verify_handle(os, handle, *identity, expected_kind, expected_file_id, expected_path);
}

p::Status verify_handle(p::Os& os, const p::Handle& handle, const ObjectIdentity& read,
                        ObjectKind expected_kind, const FileId& expected_file_id,
                        std::u16string_view expected_path) {
    if (expected_kind == ObjectKind::absent) return p::foreign_identity();
    if (read.kind != expected_kind) return p::foreign_identity();
    // A directory is bound by its path alone: the plan may have seen it under
    // another id (recreated by hand), and the path check below pins it.
    if (expected_kind != ObjectKind::directory && read.id != expected_file_id)
        return p::foreign_identity();

    // Flags 0: the normalised name with the DOS volume name ("\\?\C:\...").
    auto final_path = os.files.get_final_path_name_by_handle(handle, p::PATH_BUFFER_UNITS, 0);
    if (!final_path) return std::unexpected(final_path.error());
    if (final_path->length >= p::PATH_BUFFER_UNITS) return p::invalid_data("final path too long");
    // The one path comparison of the engine: "\\?\" stripped from each side,
    // ASCII letters folded and nothing else, component by component.
    if (!p::paths_equal(final_path->path, expected_path)) return p::foreign_identity();
    return {};
}

}  // namespace holvar::txn::fs
