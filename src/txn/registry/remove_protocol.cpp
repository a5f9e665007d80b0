// The holvar: protocol belongs to whichever product wrote its command last:
// it is removed only when the command still starts this installation's client.
#include "platform/win_path.hpp"
#include "txn/registry/registry.hpp"
#include "txn/registry/value_io.hpp"

namespace holvar::txn::registry {

using platform::Status;

namespace {

constexpr std::u16string_view kClient = u"\\holvar-client.exe";
constexpr std::u16string_view kArgument = u"\" \"%1\"";

// The command starts this installation's client: `"<client>" "%1"`, where
// the client is <root>\holvar-client.exe by the same path equality that
// accepted the root (a root spelled in other letter cases is the same root,
// and so is its client). Any other shape is someone else's.
bool is_our_command(std::u16string_view command, std::u16string_view trimmed_root) {
    if (command.size() < 1 + kArgument.size() || command.front() != u'"' ||
        !command.ends_with(kArgument))
        return false;
    std::u16string_view client = command.substr(1, command.size() - 1 - kArgument.size());
    if (client.find(u'"') != std::u16string_view::npos) return false;
    return platform::paths_equal(client, std::u16string(trimmed_root) + std::u16string(kClient));
}

// Deletes the protocol tree when its command starts this installation's client.
Status remove_if_ours(platform::Os& os, std::u16string_view trimmed_root) {
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
    auto command = sz_text(*value);
    if (!command || !is_our_command(*command, trimmed_root)) return {};
    return registry_delete_tree(os, kProtocolKey);
}

}  // namespace

Status registry_remove_protocol(platform::Os& os, std::u16string_view root) {
    auto trimmed = trimmed_root(root);
    if (!trimmed) return std::unexpected(trimmed.error());
    if (has_nul(root)) return platform::invalid_input("embedded NUL");
    if (auto st = remove_if_ours(os, *trimmed); !st) return st;

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
