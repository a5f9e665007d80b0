// The holvar: protocol belongs to whichever product wrote its command last:
// it is removed only when the command still starts this installation's client.
#include <algorithm>

#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Status;

namespace {

// Deletes the protocol tree when its command is `expected`, exactly.
Status remove_if_ours(platform::Os& os, const std::vector<uint8_t>& expected) {
    auto key = os.registry.reg_open_key(std::u16string(kProtocolCommandKey), kReadAccess | kView);
    if (!key) {
        if (is_not_found(key.error())) return {};
        return std::unexpected(key.error());
    }
    auto value = read_value(os, *key, u"");
    if (!value) {
        if (value.error().is_win32(platform::win32::file_not_found)) return {};
        return std::unexpected(value.error());
    }
    key->reset();
    bool ours = value->type == platform::REG_VALUE_SZ && value->data.size() == expected.size() &&
                std::equal(expected.begin(), expected.end(), value->data.begin());
    if (!ours) return {};
    return registry_delete_tree(os, kProtocolKey);
}

}  // namespace

Status registry_remove_protocol(platform::Os& os, std::u16string_view root) {
    auto trimmed = trimmed_root(root);
    if (!trimmed) return std::unexpected(trimmed.error());
    if (has_nul(root)) return platform::invalid_input("embedded NUL");
    if (auto st = remove_if_ours(os, sz_data(protocol_command(*trimmed))); !st) return st;

    auto product =
        os.registry.reg_open_key(std::u16string(kProductKey), platform::KEY_SET_VALUE | kView);
    if (!product) {
        if (is_not_found(product.error())) return {};
        return std::unexpected(product.error());
    }
    auto deleted = os.registry.reg_delete_value(*product, u"");
    if (!deleted && !is_not_found(deleted.error())) return deleted;
    return {};
}

}  // namespace holvar::txn::registry
