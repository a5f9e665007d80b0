#include "platform/win_path.hpp"
#include "txn/drivers/rollback.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/plan/name_rules.hpp"
#include "txn/tree/trash.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

constexpr std::u16string_view kGeneratedItems[] = {u".holvar-service-v3", u"service-logs"};

bool was_there_before(const journal::Journal& journal, std::u16string_view name) {
    for (const std::u16string& item : journal.generated_before)
        if (p::ascii_iequal(item, name)) return true;
    return false;
}

// The item as it is (a link stays a link), verified by handle and moved to a
// free name in the trash; nothing there is nothing to do.
StepResult move_item_to_trash(p::Os& os, const std::u16string& path, const std::u16string& trash) {
    auto probe = fs::probe_path(os, path);
    if (!probe) return fault_of(probe.error(), Phase::rollback, FaultReason::foreign_identity);
    if (probe->kind == fs::ObjectKind::absent) return std::nullopt;
    auto handle = fs::open_object(os, path, fs::kRenameDeleteAccess);
    if (!handle) return fault_of(handle.error(), Phase::rollback, FaultReason::foreign_identity);
    if (auto same = fs::verify_handle(os, *handle, probe->kind, probe->id, path); !same)
        return fault_of(same.error(), Phase::rollback, FaultReason::foreign_identity);
    if (auto made = tree::ensure_trash_folder(os, trash); !made)
        return fault_of(made.error(), Phase::rollback, FaultReason::unsafe_object);
    if (auto moved = tree::move_to_trash(os, *handle, trash); !moved)
        return fault_of(moved.error(), Phase::rollback, FaultReason::foreign_identity);
    return std::nullopt;
}

}  // namespace

StepResult remove_generated_items(p::Os& os, const TransactionContext& ctx) {
    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    for (std::u16string_view name : kGeneratedItems) {
        if (!plan::is_safe_relative_name(name))
            return plain_fault(Phase::rollback, FaultReason::unsafe_object);
        if (was_there_before(*ctx.journal, name)) continue;
        if (StepResult failed = move_item_to_trash(os, p::join_path(ctx.root, name), layout.trash))
            return failed;
    }
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
