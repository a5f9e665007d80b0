// Everything the engine writes, reads or deletes in the registry: the
// Add/Remove Programs entry, the holvar: URL protocol, the product key, and the
// reads of the recorded install location and of the pending rename list.
// Always HKEY_LOCAL_MACHINE, always the 64-bit view; every key opened here is
// closed before the operation returns.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"

namespace holvar::txn::registry {

// Key paths, relative to HKEY_LOCAL_MACHINE.
inline constexpr std::u16string_view kUninstallKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar";
inline constexpr std::u16string_view kProtocolKey = u"Software\\Classes\\holvar";
inline constexpr std::u16string_view kProtocolIconKey = u"Software\\Classes\\holvar\\DefaultIcon";
inline constexpr std::u16string_view kProtocolCommandKey =
    u"Software\\Classes\\holvar\\shell\\open\\command";
inline constexpr std::u16string_view kProductKey = u"Software\\Holvar\\Holvar";
inline constexpr std::u16string_view kSessionManagerKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr std::u16string_view kPendingRenamesValue = u"PendingFileRenameOperations";

// Every key is opened in the 64-bit view.
inline constexpr uint32_t kView = platform::KEY_WOW64_64KEY;
inline constexpr uint32_t kWriteAccess = platform::KEY_QUERY_VALUE | platform::KEY_SET_VALUE;
inline constexpr uint32_t kReadAccess = platform::KEY_QUERY_VALUE;
inline constexpr uint32_t kDeleteTreeAccess = 0x3001F;

// UTF-16LE bytes of a text with its terminating NUL (REG_SZ data).
std::vector<uint8_t> sz_data(std::u16string_view text);
// 4 bytes little-endian (REG_DWORD data).
std::vector<uint8_t> dword_data(uint32_t value);

// Creates or opens `key`, writes the value and reads it back: the type, length
// and bytes must be what was written, else "registry readback mismatch".
platform::Status registry_write_value(platform::Os& os, std::u16string_view key,
                                      std::u16string_view name, uint32_t type,
                                      std::span<const uint8_t> data);

// The fifteen values of an installation at `root`, in order; the first failure
// stops, rows already written stay.
platform::Status registry_write_entries(platform::Os& os, std::u16string_view root,
                                        uint64_t payload_bytes);

// The payload size in kilobytes, rounded up; none when it does not fit 32 bits.
std::optional<uint32_t> estimated_size_kb(uint64_t payload_bytes);

// "InstallLocation" of the uninstall key as stored (quotes included), or none
// when the key or the value does not exist.
platform::Result<std::optional<std::u16string>> registry_read_install_location(platform::Os& os);

// Removes the protocol handler when its command is this installation's, and
// the product key's default value.
platform::Status registry_remove_protocol(platform::Os& os, std::u16string_view root);

// Deletes the key at `path` with everything below it; a missing key or parent
// is success.
platform::Status registry_delete_tree(platform::Os& os, std::u16string_view path);
platform::Status registry_delete_uninstall_key(platform::Os& os);

// One entry of PendingFileRenameOperations: an empty target deletes the source.
struct PendingRename {
    std::u16string source;
    std::u16string target;
    friend bool operator==(const PendingRename&, const PendingRename&) = default;
};
platform::Result<std::vector<PendingRename>> registry_pending_renames(platform::Os& os);
// The pairs of REG_MULTI_SZ data; invalid data "invalid pending rename data".
platform::Result<std::vector<PendingRename>> parse_pending_renames(std::span<const uint8_t> data);

// The path a source entry names: a leading "*" with its decimal digits, then
// a leading "\??\" or "\\?\", removed. Compare it with the engine's path
// comparison.
std::u16string_view pending_rename_path(std::u16string_view entry);
// True when an entry would change the root or anything in it at the next
// restart: its source, or its target when it has one (a leading "!" marks a
// replacing rename), is the root, lies under it, or lies above it (renaming
// or deleting a parent takes the root along).
bool pending_renames_touch(const std::vector<PendingRename>& renames, std::u16string_view root);

}  // namespace holvar::txn::registry
