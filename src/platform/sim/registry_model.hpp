// The machine's registry as data: keys by path, typed values as raw bytes.
// The registry calls of the OS boundary are built on these.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine_state.hpp"

namespace holvar::sim {

inline constexpr const char16_t* kSessionManagerKey =
    u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char16_t* kPendingRenamesValue = u"PendingFileRenameOperations";

// Keys are full paths from the hive ("HKLM\\SOFTWARE\\..."), compared
// case-insensitively; creating a key creates its missing ancestors.
RegKey& reg_create_key(Registry& r, const std::u16string& path);
RegKey* reg_find_key(Registry& r, const std::u16string& path);
const RegKey* reg_find_key(const Registry& r, const std::u16string& path);
void reg_set_value(Registry& r, const std::u16string& key, const std::u16string& name,
                   uint32_t type, std::vector<uint8_t> data);
const RegValue* reg_find_value(const Registry& r, const std::u16string& key,
                               const std::u16string& name);
bool reg_delete_value(Registry& r, const std::u16string& key, const std::u16string& name);
// Deletes a key with every key below it; false when it does not exist.
bool reg_delete_tree(Registry& r, const std::u16string& path);
// The value as a reader sees it: a matching read filter replaces it.
std::optional<RegValue> reg_read_value(const Registry& r, const std::u16string& key,
                                       const std::u16string& name);
// Makes one value read back as (type, data) from now on.
void reg_add_read_filter(Registry& r, const std::u16string& key, const std::u16string& name,
                         uint32_t type, std::vector<uint8_t> data);
// The text as REG_SZ bytes: UTF-16LE with its terminating NUL.
std::vector<uint8_t> sz_bytes(const std::u16string& text);

// REG_MULTI_SZ bytes: each string as UTF-16LE with its NUL, then one more NUL.
std::vector<uint8_t> multi_sz_bytes(const std::vector<std::u16string>& strings);
std::vector<std::u16string> multi_sz_strings(const std::vector<uint8_t>& bytes);

// MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT: appends the pair (source,
// target) to PendingFileRenameOperations; an empty target deletes.
void append_pending_rename(Machine::State& s, const std::u16string& source,
                           const std::u16string& target);

}  // namespace holvar::sim
