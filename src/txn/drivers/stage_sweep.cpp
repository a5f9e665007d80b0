#include "txn/drivers/stage_sweep.hpp"

#include <vector>

#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/drivers/stage_folders.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/journal/journal_store.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

// Each old stage's own: what stays locked in it waits for a later sweep.
constexpr auto kSiblingBudget = std::chrono::seconds(1);

struct FinishedSibling {
    std::u16string path;
    fs::FileId id;
};

// A sibling that may be deleted: trusted, a real directory, its journal ended.
// The handle that proved it a directory is closed again before returning, so
// it cannot keep the later deletion from reopening it.
std::optional<FinishedSibling> finished_sibling(p::Os& os, const std::u16string& path) {
    if (!fs::is_trusted_directory(os, path)) return std::nullopt;
    auto dir = fs::open_object(os, path, fs::kPinAccess, fs::kPinShare);
    if (!dir) return std::nullopt;
    auto identity = fs::read_identity(os, *dir);
    if (!identity || identity->kind != fs::ObjectKind::directory) return std::nullopt;
    if (journal::journal_is_unfinished(os, path)) return std::nullopt;
    return FinishedSibling{path, identity->id};
}

}  // namespace

Fault unfinished_journal(std::u16string stage_name) {
    Fault f = plain_fault(Phase::scan, FaultReason::foreign_unfinished_journal);
    f.rel = std::move(stage_name);
    return f;
}

StepResult sweep_sibling_stages(p::Os& os, const TransactionContext& ctx) {
    std::optional<std::u16string> parent = p::parent_path(ctx.root);
    std::optional<std::u16string> own = p::file_name(ctx.stage_dir);
    std::optional<std::u16string> root_name = p::file_name(ctx.root);
    if (!parent || !own) return plain_fault(Phase::scan, FaultReason::stage_invalid);
    auto entries = tree::list_entries(os, *parent);
    if (!entries) return fault_of(entries.error(), Phase::scan, FaultReason::stage_invalid);

    std::vector<FinishedSibling> finished;
    for (const p::FindData& entry : *entries) {
        const std::u16string& name = entry.file_name;
        if (!p::is_valid_utf16(name) || !txid_from_stage_name(name)) continue;
        if (p::ascii_iequal(name, *own)) continue;
        // A root that happens to carry a stage name is the installation, never a stage.
        if (root_name && p::ascii_iequal(name, *root_name)) continue;
        auto sibling = finished_sibling(os, p::join_path(*parent, name));
        if (!sibling) return unfinished_journal(name);
        finished.push_back(std::move(*sibling));
    }

    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    for (const FinishedSibling& sibling : finished) {
        fs::RetryBudget budget(kSiblingBudget);
        (void)remove_stage_folder(os, sibling.path, sibling.id, layout.trash, budget, false);
    }
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
