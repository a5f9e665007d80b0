#include "txn/fs/durable_write.hpp"

namespace holvar::txn::fs {

using namespace platform;

namespace {

// Not a plain file: a directory or a reparse point, or one with attributes a
// file the engine just created never has (read-only, hidden, system).
constexpr uint32_t not_plain_mask = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM;
constexpr uint32_t delete_posix = FILE_DISPOSITION_FLAG_DELETE |
                                  FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                  FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;  // 0x13
// How often one chunk is offered again after the write was cut short by a
// cancelled I/O; anything else is an error at once.
constexpr int interrupted_write_retries = 3;

// A regular file that no other name shares: writing into it changes nothing
// but the temporary file itself.
Result<bool> is_plain_single_file(Os& os, const Handle& h) {
    Result<ByHandleFileInformation> info = os.files.get_file_information_by_handle(h);
    if (!info) return std::unexpected(info.error());
    return (info->file_attributes & not_plain_mask) == 0 && info->number_of_links == 1;
}

// Whatever lies at the temporary name goes before the temporary file is
// made afresh with CREATE_NEW: a leftover of a crashed write, or what someone
// planted there (a directory, a junction or symbolic link, a hard link to a
// file elsewhere). It is deleted by handle, never followed, so the name goes
// and the object a link pointed at is untouched. Opening a leftover to
// truncate it would write through a hard link swapped in after the check.
Status clear_temporary_name(Os& os, const std::u16string& tmp) {
    Result<Handle> probe = os.files.create_file(tmp, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                                OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!probe) {
        if (probe.error().is_win32(win32::file_not_found)) return {};
        return std::unexpected(probe.error());
    }
    return os.files.set_file_disposition_info_ex(*probe, delete_posix);
}

Status write_all(Os& os, const Handle& h, std::span<const uint8_t> bytes) {
    int retries = interrupted_write_retries;
    while (!bytes.empty()) {
        Result<uint32_t> written = os.files.write_file(h, bytes);
        if (!written) {
            if (written.error().is_win32(win32::operation_aborted) && retries-- > 0) continue;
            return std::unexpected(written.error());
        }
        // A write that makes no progress would otherwise spin for ever.
        if (*written == 0 || *written > bytes.size()) return win32_error(win32::write_fault);
        bytes = bytes.subspan(*written);
    }
    return {};
}

}  // namespace

Status write_file_atomically(Os& os, const std::u16string& path, std::span<const uint8_t> bytes,
                             bool flush_before_rename) {
    const std::u16string tmp = path + u".tmp";
    if (Status cleared = clear_temporary_name(os, tmp); !cleared) return cleared;
    {
        // A new file or nothing: should anything appear at the name after it
        // was cleared, the creation fails instead of writing into it.
        Result<Handle> file =
            os.files.create_file(tmp, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                 CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT);
        if (!file) return std::unexpected(file.error());
        Result<bool> plain = is_plain_single_file(os, *file);
        if (!plain) return std::unexpected(plain.error());
        if (!*plain) return foreign_identity();
        Status written = write_all(os, *file, bytes);
        if (!written) return written;
        // The bytes reach disk before the name moves over the target.
        if (flush_before_rename) {
            Status flushed = os.files.flush_file_buffers(*file);
            if (!flushed) return flushed;
        }
    }
    return os.files.move_file_ex(tmp, &path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace holvar::txn::fs
