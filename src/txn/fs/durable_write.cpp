#include "txn/fs/durable_write.hpp"

namespace holvar::txn::fs {

using namespace platform;

namespace {

// Not a plain file: a directory or a reparse point; nor one that CREATE_ALWAYS
// refuses to overwrite (read-only, or hidden or system without those flags).
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

// What lies at the temporary name decides how it is created. The diagnostics
// directory and the stage directory are trusted by owner only, so an ordinary
// user may have planted something there: a directory, a junction or symbolic
// link, or a hard link to a file elsewhere. Such an object is deleted by
// handle (the name goes, the object a link pointed at is untouched) and the
// temporary file is created afresh. A plain leftover of a crashed write is
// simply overwritten. Returns the creation disposition to use.
Result<uint32_t> clear_temporary_name(Os& os, const std::u16string& tmp) {
    Result<Handle> probe = os.files.create_file(tmp, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                                OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!probe) {
        if (probe.error().is_win32(win32::file_not_found)) return CREATE_NEW;
        return std::unexpected(probe.error());
    }
    Result<bool> plain = is_plain_single_file(os, *probe);
    if (!plain) return std::unexpected(plain.error());
    if (*plain) return CREATE_ALWAYS;
    Status deleted = os.files.set_file_disposition_info_ex(*probe, delete_posix);
    if (!deleted) return std::unexpected(deleted.error());
    return CREATE_NEW;
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
    Result<uint32_t> disposition = clear_temporary_name(os, tmp);
    if (!disposition) return std::unexpected(disposition.error());
    {
        // Never follows a reparse point: should one appear at the name after
        // the check, this opens (and refuses) the link itself.
        Result<Handle> file =
            os.files.create_file(tmp, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                 *disposition, FILE_FLAG_OPEN_REPARSE_POINT);
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
