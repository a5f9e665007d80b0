#include "txn/fs/volume.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

namespace {

p::Result<std::u16string> volume_mount_point(p::Os& os, std::u16string_view path) {
    auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    return os.files.get_volume_path_name(*wide, p::PATH_BUFFER_UNITS);
}

bool is_surrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}
bool is_ascii_letter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The drive letter of a mount point that is the root of a drive ("C:\",
// "\\?\C:\"); a folder mount point ("C:\mnt\data\") begins with the letter of
// the volume it is mounted into, which is not the volume to flush.
p::Result<char16_t> drive_letter_of(std::u16string_view mount_point) {
    std::u16string_view m = p::strip_verbatim(mount_point);
    if (!m.empty() && is_surrogate(m[0])) return p::invalid_input("invalid drive");
    bool drive_root = m.size() >= 2 && is_ascii_letter(m[0]) && m[1] == u':' &&
                      (m.size() == 2 || (m.size() == 3 && p::is_separator(m[2])));
    if (!drive_root) return p::invalid_input("volume has no drive letter");
    return m[0];
}

}  // namespace

p::Result<bool> check_volume_capabilities(p::Os& os, std::u16string_view path) {
    auto mount_point = volume_mount_point(os, path);
    if (!mount_point) return std::unexpected(mount_point.error());
    auto flags = os.files.get_volume_file_system_flags(*mount_point);
    if (!flags) return std::unexpected(flags.error());
    return (*flags & kRequiredVolumeFlags) == kRequiredVolumeFlags;
}

p::Status flush_volume(p::Os& os, std::u16string_view path) {
    auto mount_point = volume_mount_point(os, path);
    if (!mount_point) return std::unexpected(mount_point.error());
    auto letter = drive_letter_of(*mount_point);
    if (!letter) return std::unexpected(letter.error());
    std::u16string device = u"\\\\.\\";
    device.push_back(*letter);
    device.push_back(u':');
    auto volume = os.files.create_file(device, p::GENERIC_WRITE, kPinShare, p::OPEN_EXISTING, 0);
    if (!volume) return std::unexpected(volume.error());
    return os.files.flush_file_buffers(*volume);
}

}  // namespace holvar::txn::fs
