// The install location a previous install recorded: the drivers compare it
// with the root before they touch anything, so a malformed value is an error,
// never a guess.
#include "txn/journal/text_codec.hpp"
#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Result;

Result<std::optional<std::u16string>> registry_read_install_location(platform::Os& os) {
    using Absent = std::optional<std::u16string>;
    auto key = os.registry.reg_open_key(std::u16string(kUninstallKey), kReadAccess | kView);
    if (!key) {
        if (key.error().is_win32(platform::win32::file_not_found)) return Absent{};
        return std::unexpected(key.error());
    }
    auto value = read_value(os, *key, u"InstallLocation");
    if (!value) {
        if (value.error().is_win32(platform::win32::file_not_found)) return Absent{};
        return std::unexpected(value.error());
    }
    const auto& data = value->data;
    if (value->type != platform::REG_VALUE_SZ || data.size() % 2 != 0)
        return platform::invalid_data("invalid InstallLocation");
    std::u16string units;
    for (size_t i = 0; i < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    if (units.empty() || units.back() != u'\0')
        return platform::invalid_data("unterminated InstallLocation");
    units.pop_back();
    if (!journal::is_valid_utf16(units)) return platform::invalid_data("invalid InstallLocation");
    return Absent{std::move(units)};
}

}  // namespace holvar::txn::registry
