#include "txn/drivers/unfinished_scan.hpp"

#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/drivers/context.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

// Any name a stage directory may have been given, however the letters of its
// prefix were cased, and whatever follows: more than the names a setup
// program creates, so that nothing that might be a stage is overlooked.
bool may_be_stage_name(std::u16string_view name) {
    return p::is_valid_utf16(name) && name.size() >= stage_name_prefix.size() &&
           p::ascii_iequal(name.substr(0, stage_name_prefix.size()), stage_name_prefix);
}

// A stage that is provably done with: a trusted directory without a journal,
// or with one that has ended.
bool is_finished_stage(p::Os& os, const std::u16string& path) {
    if (!fs::is_trusted_directory(os, path)) return false;
    return !journal::journal_is_unfinished(os, path);
}

}  // namespace

bool transaction_may_be_unfinished(p::Os& os, std::u16string_view root) {
    std::optional<std::u16string> parent = p::parent_path(root);
    if (!parent) return true;
    auto entries = tree::list_entries(os, *parent);
    if (!entries) return true;
    for (const p::FindData& entry : *entries) {
        if (!may_be_stage_name(entry.file_name)) continue;
        if (!is_finished_stage(os, p::join_path(*parent, entry.file_name))) return true;
    }
    return false;
}

}  // namespace holvar::txn::drivers
