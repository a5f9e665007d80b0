// The system's list of renames and deletions waiting for the next restart.
// It decides whether a root may be touched, so data that cannot be read
// exactly is an error, never an empty list.
#include "txn/journal/text_codec.hpp"
#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Result;

Result<std::vector<PendingRename>> parse_pending_renames(std::span<const uint8_t> data) {
    constexpr std::string_view bad = "invalid pending rename data";
    if (data.empty() || data.size() % 2 != 0) return platform::invalid_data(bad);
    std::u16string units;
    units.reserve(data.size() / 2);
    for (size_t i = 0; i < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    std::vector<PendingRename> out;
    if (units.size() == 2 && units[0] == 0 && units[1] == 0) return out;
    if (units.size() < 2 || units[units.size() - 1] != 0 || units[units.size() - 2] != 0)
        return platform::invalid_data(bad);
    // Without the list's final NUL, every string ends with its own NUL.
    std::vector<std::u16string> strings;
    size_t start = 0;
    for (size_t i = 0; i + 1 < units.size(); ++i) {
        if (units[i] != 0) continue;
        strings.emplace_back(units.substr(start, i - start));
        start = i + 1;
    }
    if (strings.size() % 2 != 0) return platform::invalid_data(bad);
    for (size_t i = 0; i < strings.size(); i += 2) {
        if (strings[i].empty() || !journal::is_valid_utf16(strings[i]) ||
            !journal::is_valid_utf16(strings[i + 1]))
            return platform::invalid_data(bad);
        out.push_back(PendingRename{std::move(strings[i]), std::move(strings[i + 1])});
    }
    return out;
}

Result<std::vector<PendingRename>> registry_pending_renames(platform::Os& os) {
    auto key = os.registry.reg_open_key(std::u16string(kSessionManagerKey), kReadAccess | kView);
    if (!key) return std::unexpected(key.error());
    auto value = read_value(os, *key, std::u16string(kPendingRenamesValue));
    if (!value) {
        if (value.error().is_win32(platform::win32::file_not_found))
            return std::vector<PendingRename>{};
        return std::unexpected(value.error());
    }
    if (value->type != platform::REG_VALUE_MULTI_SZ)
        return platform::invalid_data("pending renames are not REG_MULTI_SZ");
    return parse_pending_renames(value->data);
}

}  // namespace holvar::txn::registry
