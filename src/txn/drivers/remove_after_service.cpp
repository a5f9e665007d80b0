#include "txn/drivers/remove_after_service.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/win_path.hpp"
#include "txn/drivers/delete_now_or_at_reboot.hpp"
#include "txn/drivers/fault_slots.hpp"
#include "txn/drivers/removal_maintenance.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/wide_path.hpp"
#include "txn/quiesce/retire.hpp"
#include "txn/registry/registry.hpp"
#include "txn/scm/scm.hpp"
#include "txn/tree/delete_tree.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using journal::MarkKind;
using outcome::OutcomeKind;
using tree::DeletionStatus;

namespace {

constexpr auto kTreeBudget = std::chrono::seconds(30);

// How far the registry entries, and the uninstaller with the root, got.
enum class ItemsState : uint8_t { untouched, done, failed };

class RemovalSteps {
  public:
    RemovalSteps(p::Os& os, TransactionContext& ctx, outcome::OutcomeReport& report)
        : os_(os),
          ctx_(ctx),
          report_(report),
          trash_(tree::TreeLayout::of(ctx.root, ctx.stage_dir).trash) {}

    OutcomeKind run() {
        OutcomeKind kind = run_steps();
        report_.holders = ctx_.holders;
        return kind;
    }

  private:
    OutcomeKind run_steps() {
        if (StepResult ended = remove_installation()) return ended_early(std::move(*ended));
        if (StepResult ended = count_pending_deletions()) return ended_early(std::move(*ended));
        OutcomeKind kind = decide();
        if (kind == OutcomeKind::remove_incomplete) return kind;
        if (StepResult ended = mark(MarkKind::finalized, Phase::remove_finalize))
            return ended_early(std::move(*ended));
        return kind;
    }

    // Everything up to the restart check. A fault returned ends the removal;
    // one that only leaves it incomplete is recorded and the removal goes on
    // to count what waits for the restart.
    StepResult remove_installation() {
        if (!ctx_.journal) return plain_fault(Phase::remove_plan, FaultReason::journal_corrupt);
        auto root = fs::probe_path(os_, ctx_.root);
        if (!root) return fault_of(root.error(), Phase::remove_tree, FaultReason::unsafe_object);
        if (root->kind == fs::ObjectKind::absent) {
            // A runtime left running when the root went (its image waits in
            // the trash for the restart) keeps the removal incomplete for as
            // long as it runs: the same machine gives the same answer.
            if (StepResult failed = retire_runtime()) return failed;
            remove_registry_without_root();
            return std::nullopt;
        }
        if (StepResult failed = pin_root()) return failed;
        if (StepResult failed = retire_runtime()) return failed;
        if (StepResult failed = run_maintenance()) return failed;
        return delete_installation();
    }

    // The root stays open without delete sharing until just before it is
    // deleted itself, so no other directory can take its place meanwhile; and
    // it must still be the directory the journal recorded.
    StepResult pin_root() {
        auto pin = fs::open_object(os_, ctx_.root, fs::kPinAccess, fs::kPinShare);
        if (!pin) return fault_of(pin.error(), Phase::remove_tree, FaultReason::unsafe_object);
        auto identity = fs::read_identity(os_, *pin);
        if (!identity)
            return fault_of(identity.error(), Phase::remove_tree, FaultReason::unsafe_object);
        if (identity->kind != fs::ObjectKind::directory)
            return plain_fault(Phase::remove_tree, FaultReason::unsafe_object);
        const fs::RootIdentity& recorded = ctx_.journal->root;
        if (recorded.file_id && (identity->volume_serial != recorded.volume_serial ||
                                 identity->id != *recorded.file_id))
            return plain_fault(Phase::remove_tree, FaultReason::foreign_identity);
        root_pin_ = std::move(*pin);
        return std::nullopt;
    }

    // A runtime that cannot be ended does not stop the removal: what it
    // keeps locked waits for the restart. "runtime_retired" says it was
    // ended, so a resumed removal tries again until it is.
    StepResult retire_runtime() {
        if (ctx_.journal->has_mark(MarkKind::runtime_retired)) return std::nullopt;
        if (auto retired = quiesce::retire_runtime_processes(os_, ctx_.root); !retired) {
            record_fault(report_, fault_of(retired.error(), Phase::remove_runtime,
                                           FaultReason::core_retire_failed));
            return std::nullopt;
        }
        return mark(MarkKind::runtime_retired, Phase::remove_runtime);
    }

    // Once per removal: the mark keeps a resumed removal from running them again.
    StepResult run_maintenance() {
        if (ctx_.journal->has_mark(MarkKind::maintenance_done)) return std::nullopt;
        auto entries =
            run_maintenance_commands(os_, ctx_.root, ctx_.journal->options.purge_session_vault);
        std::move(entries.begin(), entries.end(), std::back_inserter(report_.maintenance));
        return mark(MarkKind::maintenance_done, Phase::remove_maintenance);
    }

    // The tree, the registry, the uninstaller and the root, each only once
    // everything before it is done.
    StepResult delete_installation() {
        const std::u16string uninstaller = p::join_path(ctx_.root, tree::kUninstaller);
        if (!fs::wide_path(uninstaller))
            return plain_fault(Phase::remove_tree, FaultReason::unsafe_object);
        delete_tree_under_root();
        if (any(DeletionStatus::failed)) {
            Fault f = plain_fault(Phase::remove_tree, FaultReason::schedule_failed);
            f.win32 = tree_schedule_error_;
            // The first item left behind, for the person who must deal with it.
            f.rel = first_failed_;
            return incomplete(std::move(f));
        }
        if (StepResult failed = mark(MarkKind::tree_done, Phase::remove_tree)) return failed;
        if (StepResult failed = remove_registry_entries()) return failed;
        if (registry_ == ItemsState::failed) return std::nullopt;
        return delete_last_items(uninstaller);
    }

    // Everything under the root but the uninstaller; what stays locked moves
    // to the stage's trash or waits for the restart.
    void delete_tree_under_root() {
        tree::HolderSlot holders;
        // The holders of the first entry that stays locked go to the report as
        // they are; the tree deletion itself needs no answer.
        holders.query = [this](std::u16string_view path) -> tree::HolderList {
            record_holders(os_, ctx_, path);
            return std::vector<tree::HolderProcess>{};
        };
        fs::RetryBudget budget(kTreeBudget);
        const std::u16string keep[] = {std::u16string(tree::kUninstaller)};
        tree::TreeDeletion deletion =
            tree::delete_tree(os_, ctx_.root, keep, trash_, budget, holders);
        for (const tree::DeletionItem& item : deletion.items) {
            statuses_.push_back(item.status);
            if (item.status == DeletionStatus::failed && !first_failed_) first_failed_ = item.rel;
        }
        for (std::u16string& rel : deletion.reboot_pending) {
            if (rel.find(u'\\') == std::u16string::npos) scheduled_in_root_.push_back(rel);
            report_.reboot_pending.push_back(std::move(rel));
        }
        tree_schedule_error_ = deletion.schedule_error;
    }

    // The protocol handler (when it is still this installation's) and the
    // product value first; the uninstall entry only once they are gone.
    StepResult remove_registry_entries() {
        if (auto removed = registry::registry_remove_protocol(os_, ctx_.root); !removed)
            return registry_failed(removed.error());
        if (StepResult failed = mark(MarkKind::registry_done, Phase::remove_registry))
            return failed;
        if (auto deleted = registry::registry_delete_uninstall_key(os_); !deleted)
            return registry_failed(deleted.error());
        if (StepResult failed = mark(MarkKind::uninstall_key_deleted, Phase::remove_registry))
            return failed;
        registry_ = ItemsState::done;
        return std::nullopt;
    }

    StepResult registry_failed(const p::Error& error) {
        registry_ = ItemsState::failed;
        return incomplete(fault_of(error, Phase::remove_registry, FaultReason::registry_failed));
    }

    // The uninstaller, then the root. The root's pin is let go only now, and
    // the root goes (or waits for the restart) only while it is still the
    // directory the journal recorded.
    StepResult delete_last_items(const std::u16string& uninstaller) {
        DeletionStatus uninstalled = delete_now_or_at_reboot(os_, uninstaller, false);
        statuses_.push_back(uninstalled);
        if (uninstalled == DeletionStatus::failed) return last_item_failed();
        if (uninstalled == DeletionStatus::scheduled) {
            report_.reboot_pending.emplace_back(tree::kUninstaller);
            scheduled_in_root_.emplace_back(tree::kUninstaller);
        }
        root_pin_.reset();
        const ItemGuard guard{ctx_.journal->root, scheduled_in_root_};
        DeletionStatus root = delete_now_or_at_reboot(os_, ctx_.root, true, guard);
        statuses_.push_back(root);
        if (root == DeletionStatus::failed) return last_item_failed();
        if (root == DeletionStatus::scheduled) report_.reboot_pending.emplace_back(u".");
        items_ = ItemsState::done;
        return mark(MarkKind::root_done, Phase::remove_finalize);
    }

    StepResult last_item_failed() {
        items_ = ItemsState::failed;
        return incomplete(plain_fault(Phase::remove_finalize, FaultReason::schedule_failed));
    }

    // The root is already gone (a resumed removal, or removed by hand): only
    // the registry is left, and no mark is written for it.
    void remove_registry_without_root() {
        p::Status removed = registry::registry_remove_protocol(os_, ctx_.root);
        if (removed) removed = registry::registry_delete_uninstall_key(os_);
        if (removed) {
            registry_ = ItemsState::done;
            return;
        }
        registry_ = ItemsState::failed;
        record_fault(report_, fault_of(removed.error(), Phase::remove_registry,
                                       FaultReason::registry_failed));
    }

    // Deletions at restart that anyone registered under the root or in this
    // stage's trash: the product is not gone before the restart.
    StepResult count_pending_deletions() {
        auto renames = registry::registry_pending_renames(os_);
        if (!renames)
            return fault_of(renames.error(), Phase::remove_finalize, FaultReason::unsafe_object);
        for (const registry::PendingRename& rename : *renames) {
            if (!rename.target.empty()) continue;
            std::u16string_view source = registry::pending_rename_path(rename.source);
            if (p::path_lies_under(source, ctx_.root) || p::path_lies_under(source, trash_)) {
                statuses_.push_back(DeletionStatus::scheduled);
                break;
            }
        }
        return std::nullopt;
    }

    // A service only marked for deletion goes when its last handle closes,
    // at the latest at the restart.
    bool service_still_pending() {
        if (!ctx_.journal->has_mark(MarkKind::service_delete_pending)) return false;
        auto service = scm::scm_snapshot(os_);
        return !service || service->config.has_value();
    }

    // A failure recorded on the way (a runtime process that would not end, a
    // maintenance child that failed) leaves the removal incomplete even when
    // every item went: the report never says removed over a fault.
    OutcomeKind decide() {
        if (any(DeletionStatus::failed) || registry_ == ItemsState::failed ||
            items_ == ItemsState::failed || report_.primary)
            return OutcomeKind::remove_incomplete;
        if (any(DeletionStatus::scheduled) || service_still_pending())
            return OutcomeKind::removed_reboot_pending;
        return OutcomeKind::removed;
    }

    bool any(DeletionStatus status) const {
        return std::find(statuses_.begin(), statuses_.end(), status) != statuses_.end();
    }

    // Writes `kind` unless an earlier run of these steps already did.
    StepResult mark(MarkKind kind, Phase phase) {
        if (ctx_.journal->has_mark(kind)) return std::nullopt;
        if (auto marked = write_mark(os_, ctx_, kind); !marked)
            return fault_of(marked.error(), phase, FaultReason::journal_write_failed);
        return std::nullopt;
    }

    // A fault that leaves the removal incomplete without stopping it.
    StepResult incomplete(Fault fault) {
        record_fault(report_, std::move(fault));
        return std::nullopt;
    }

    OutcomeKind ended_early(Fault fault) {
        record_fault(report_, std::move(fault));
        return OutcomeKind::remove_incomplete;
    }

    p::Os& os_;
    TransactionContext& ctx_;
    outcome::OutcomeReport& report_;
    const std::u16string trash_;
    p::Handle root_pin_;
    std::vector<DeletionStatus> statuses_;
    std::vector<std::u16string> scheduled_in_root_;  // names directly in the root, scheduled
    std::optional<uint32_t> tree_schedule_error_;
    std::optional<std::u16string> first_failed_;  // rel of the first tree item left behind
    ItemsState registry_ = ItemsState::untouched;
    ItemsState items_ = ItemsState::untouched;
};

}  // namespace

OutcomeKind remove_after_service(p::Os& os, TransactionContext& ctx,
                                 outcome::OutcomeReport& report) {
    return RemovalSteps(os, ctx, report).run();
}

}  // namespace holvar::txn::drivers
