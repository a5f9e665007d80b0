// The registry side of a finished install, written in a fixed order so that
// a failure leaves a known prefix, which a rerun overwrites.
#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Status;

std::optional<uint32_t> estimated_size_kb(uint64_t payload_bytes) {
    uint64_t kb = (payload_bytes >> 10) + ((payload_bytes & 0x3FF) != 0 ? 1 : 0);
    if (kb > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(kb);
}

Status registry_write_entries(platform::Os& os, std::u16string_view root, uint64_t payload_bytes) {
    auto trimmed = trimmed_root(root);
    if (!trimmed) return std::unexpected(trimmed.error());
    // Every row carries the root; one NUL inside would cut each of them short.
    if (has_nul(root)) return platform::invalid_input("embedded NUL");
    const std::u16string client = *trimmed + u"\\holvar-client.exe";
    const std::u16string quoted_client = u"\"" + client + u"\"";

    struct Row {
        std::u16string_view key;
        std::u16string_view name;
        std::u16string data;
    };
    const Row rows[] = {
        {kProtocolKey, u"", u"URL:com.holvar.desktop protocol"},
        {kProtocolKey, u"URL Protocol", u""},
        {kProtocolIconKey, u"", quoted_client + u",0"},
        {kProtocolCommandKey, u"", protocol_command(*trimmed)},
        {kProductKey, u"", std::u16string(root)},
        {kUninstallKey, u"MainBinaryName", u"holvar-client.exe"},
        {kUninstallKey, u"DisplayName", u"Holvar"},
        {kUninstallKey, u"DisplayIcon", quoted_client},
        {kUninstallKey, u"DisplayVersion", u"3.0.0"},
        {kUninstallKey, u"Publisher", u"Holvar"},
        {kUninstallKey, u"InstallLocation", u"\"" + std::u16string(root) + u"\""},
        {kUninstallKey, u"UninstallString", u"\"" + *trimmed + u"\\uninstall.exe\""},
    };
    for (const Row& row : rows) {
        auto st =
            registry_write_value(os, row.key, row.name, platform::REG_VALUE_SZ, sz_data(row.data));
        if (!st) return st;
    }
    for (std::u16string_view flag : {u"NoModify", u"NoRepair"}) {
        auto st =
            registry_write_value(os, kUninstallKey, flag, platform::REG_VALUE_DWORD, dword_data(1));
        if (!st) return st;
    }
    auto kb = estimated_size_kb(payload_bytes);
    if (!kb) return platform::invalid_input("payload too large");
    return registry_write_value(os, kUninstallKey, u"EstimatedSize", platform::REG_VALUE_DWORD,
                                dword_data(*kb));
}

}  // namespace holvar::txn::registry
