// The trusted path walk: every component of an absolute path, from the volume
// root to the last name, opened without following links and checked to be a
// plain directory (or, last, a singly linked file) that only trusted
// principals own and may change. The handles stay open as the proof: none of
// them shares deletion, and the last one shares only reading, so what was
// checked stays what was checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/os.hpp"

namespace holvar::v3 {

enum class PathWalkReason : uint8_t {
    not_absolute = 0,
    bad_prefix = 1,
    bad_component = 2,
    open_failed = 5,
    information_failed = 6,
    reparse_point = 7,
    not_a_directory = 8,
    link_count = 9,
    security_query_failed = 10,
    sid_conversion_failed = 11,
    no_dacl = 12,
    untrusted_owner = 13,
    ace_unreadable = 14,
    untrusted_writer = 15,
};

struct PathWalkFailure {
    PathWalkReason reason = PathWalkReason::not_absolute;
    bool last_component = false;
    std::optional<uint32_t> win32;
    friend bool operator==(const PathWalkFailure&, const PathWalkFailure&) = default;
};

// One handle per component, volume root first; the last is the last component.
struct PinnedPath {
    std::vector<platform::Handle> handles;
    const platform::Handle& last() const { return handles.back(); }
};

// How the walk opens each component, never through a link. Only a handle with
// data access (read, write or delete) takes part in share checks: one with
// nothing but READ_CONTROL | FILE_READ_ATTRIBUTES would let anyone rename,
// delete or overwrite the object under it. So every component is opened for
// FILE_READ_DATA as well. The directories share reading and writing, so files
// can still be created in them and moved into them (a rename opens its target
// directory for writing), but not deletion: no directory of the path can be
// renamed or deleted. The last component shares only reading, so its contents
// cannot change either. The image of a running process, mapped for execution,
// still opens this way, as it does for any reader.
inline constexpr uint32_t kPinDirectoryAccess = 0x00020081;
inline constexpr uint32_t kPinDirectoryShare =
    platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;
inline constexpr uint32_t kPinLastAccess = 0x00020081;
inline constexpr uint32_t kPinLastShare = platform::FILE_SHARE_READ;
inline constexpr uint32_t kPinFlags = 0x02200000;
// How an identity check opens a file only to compare it with a walked one
// (file id, final path): no data access, so it takes part in no share check
// and never collides with a pin or with the running image.
inline constexpr uint32_t kPinAccess = 0x00020080;
inline constexpr uint32_t kPinShare = platform::FILE_SHARE_READ;
// The rights that let a principal change an object: on the volume root the
// right to add files and folders is not counted.
inline constexpr uint32_t kVolumeRootWriteMask = 0x500D0150;
inline constexpr uint32_t kWriteMask = 0x500D0156;

// How the walk holds what it checked: pinned (the handles above, which keep
// everyone else from changing the path while they are open), or only checked
// (opened for the security and attribute reads alone, sharing everything, so
// the walk meets no handle the caller itself holds on the way; the handles
// it returns then prove nothing about later).
enum class WalkHold : uint8_t { pin, check_only };

std::expected<PinnedPath, PathWalkFailure> walk_trusted_path(platform::Os& os,
                                                             std::u16string_view path,
                                                             WalkHold hold = WalkHold::pin);

// The DACL and owner check of one object (step e of the walk), exposed for the
// callers that check a single handle.
std::optional<PathWalkFailure> check_object_security(platform::Os& os, const platform::Handle& h,
                                                     uint32_t write_mask, bool last);

}  // namespace holvar::v3
