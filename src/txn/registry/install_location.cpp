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
    auto units = sz_text(*value);
    if (!units)
        return platform::invalid_data(units.error().has_text("unterminated")
                                          ? "unterminated InstallLocation"
                                          : "invalid InstallLocation");
    if (!journal::is_valid_utf16(*units)) return platform::invalid_data("invalid InstallLocation");
    return Absent{std::move(*units)};
}

}  // namespace holvar::txn::registry
