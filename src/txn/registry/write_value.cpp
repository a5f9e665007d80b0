// One value written and read back: a registry that stores something else than
// what was asked (a filter, a policy, a full hive) is caught here, not later
// by a setup program that finds the product half-registered.
#include <algorithm>

#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Status;

Status registry_write_value(platform::Os& os, std::u16string_view key, std::u16string_view name,
                            uint32_t type, std::span<const uint8_t> data) {
    if (has_nul(key) || has_nul(name)) return platform::invalid_input("embedded NUL");
    auto handle = os.registry.reg_create_key(std::u16string(key), kWriteAccess | kView);
    if (!handle) return std::unexpected(handle.error());
    if (data.size() >= (uint64_t{1} << 32))
        return platform::invalid_input("registry data too long");
    const std::u16string value_name(name);
    if (auto set = os.registry.reg_set_value(*handle, value_name, type, data); !set)
        return std::unexpected(set.error());
    auto back = read_value(os, *handle, value_name);
    if (!back) return std::unexpected(back.error());
    if (back->type != type || back->data.size() != data.size() ||
        !std::equal(data.begin(), data.end(), back->data.begin()))
        return platform::invalid_data("registry readback mismatch");
    return {};
}

}  // namespace holvar::txn::registry
