#include "txn/drivers/context.hpp"

#include "platform/win_path.hpp"

namespace holvar::txn::drivers {

using namespace platform;

namespace {

constexpr size_t txid_length = 32;

template <class Char>
bool is_txid_text(std::basic_string_view<Char> text) {
    if (text.size() != txid_length) return false;
    for (Char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::optional<std::string> txid_from_stage_name(std::u16string_view name) {
    if (name.size() != stage_name_prefix.size() + txid_length) return std::nullopt;
    if (!name.starts_with(stage_name_prefix)) return std::nullopt;
    std::u16string_view digits = name.substr(stage_name_prefix.size());
    if (!is_txid(digits)) return std::nullopt;
    return std::string(digits.begin(), digits.end());
}

bool is_txid(std::u16string_view text) {
    return is_txid_text(text);
}
bool is_txid(std::string_view text) {
    return is_txid_text(text);
}

Result<TransactionContext> build_context(Os& os, const std::u16string& root,
                                         const std::u16string& stage_dir) {
    if (root.empty()) return invalid_input("empty root");
    Result<std::u16string> abs_root = os.files.get_full_path_name(root);
    if (!abs_root) return std::unexpected(abs_root.error());
    if (stage_dir.empty()) return invalid_input("empty stage directory");
    Result<std::u16string> abs_stage = os.files.get_full_path_name(stage_dir);
    if (!abs_stage) return std::unexpected(abs_stage.error());

    std::optional<std::u16string> parent = parent_path(*abs_root);
    if (!parent) return invalid_input("root has no parent");
    PathParts stage_parts = split_path(*abs_stage);
    if (stage_parts.components.empty()) return invalid_input("invalid stage name");
    std::optional<std::string> txid = txid_from_stage_name(stage_parts.components.back());
    if (!txid) return invalid_input("invalid stage name");

    TransactionContext context;
    context.root = std::move(*abs_root);
    context.stage_dir = std::move(*abs_stage);
    context.diagnostics_dir = join_path(*parent, diagnostics_dir_name);
    context.txid = std::move(*txid);
    return context;
}

bool check_engine_placement(Os& os, const std::u16string& root, const std::u16string& stage_dir) {
    std::optional<std::u16string> stage_parent = parent_path(stage_dir);
    std::optional<std::u16string> root_parent = parent_path(root);
    if (stage_parent.has_value() != root_parent.has_value()) return false;
    if (stage_parent && !paths_equal_exact(*stage_parent, *root_parent)) return false;
    return build_context(os, root, stage_dir).has_value();
}

}  // namespace holvar::txn::drivers
