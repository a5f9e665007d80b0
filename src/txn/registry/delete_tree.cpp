// Deleting a key with everything below it, through its parent. What is
// already gone counts as deleted, so a removal can be repeated.
#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Status;

Status registry_delete_tree(platform::Os& os, std::u16string_view path) {
    if (has_nul(path)) return platform::invalid_input("embedded NUL");
    size_t cut = path.rfind(u'\\');
    if (cut == std::u16string_view::npos) return platform::invalid_input("key path");
    std::u16string parent(path.substr(0, cut));
    std::u16string leaf(path.substr(cut + 1));
    auto key = os.registry.reg_open_key(parent, kDeleteTreeAccess | kView);
    if (!key) {
        if (is_not_found(key.error())) return {};
        return std::unexpected(key.error());
    }
    auto deleted = os.registry.reg_delete_tree(*key, leaf);
    if (!deleted && !is_not_found(deleted.error())) return deleted;
    return {};
}

Status registry_delete_uninstall_key(platform::Os& os) {
    return registry_delete_tree(os, kUninstallKey);
}

}  // namespace holvar::txn::registry
