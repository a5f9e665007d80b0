#include "txn/tree/delete_tree.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/resolve_relative.hpp"
#include "txn/fs/retrying.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/reboot_schedule.hpp"
#include "txn/tree/trash.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::tree {

namespace p = platform;
using fs::ObjectKind;

namespace {

using Components = std::vector<std::u16string>;

// `prefix` is a leading run of whole components of `path` (ASCII case folded).
bool starts_with(const Components& path, const Components& prefix) {
    if (prefix.size() > path.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!p::ascii_iequal(path[i], prefix[i])) return false;
    return true;
}

// One directory of the walk. Its handle stays open (without delete sharing)
// until the directory itself is deleted or left, so nobody can move it or
// any folder above it while its entries are deleted by path.
struct Frame {
    Components rel;
    std::u16string path;
    p::Handle handle;
    std::vector<p::FindData> entries;
    size_t next = 0;
};

class TreeDeleter {
  public:
    TreeDeleter(p::Os& os, std::u16string_view trash, fs::RetryBudget& budget, HolderSlot& holders)
        : os_(os), trash_(trash), budget_(budget), holders_(holders) {}

    void keep(std::span<const std::u16string> kept) {
        for (const std::u16string& k : kept) {
            auto components = fs::split_relative(k);
            if (components) kept_.push_back(std::move(*components));
        }
    }

    void run(std::u16string_view base) {
        auto top = open_base(base);
        if (!top) {
            result_.items.push_back({u".", DeletionStatus::failed});
            return;
        }
        stack_.push_back(std::move(*top));
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.next == frame.entries.size()) {
                Frame done = std::move(frame);
                stack_.pop_back();
                if (!stack_.empty()) finish_directory(done);  // the base itself stays
                continue;
            }
            const p::FindData& entry = frame.entries[frame.next++];
            Components rel = frame.rel;
            rel.push_back(entry.file_name);
            if (is_kept(rel)) continue;
            std::u16string path = p::join_path(frame.path, entry.file_name);
            ObjectKind listed = fs::kind_from_attributes(entry.file_attributes);
            if (listed == ObjectKind::directory) {
                enter_directory(std::move(rel), std::move(path));  // may grow the stack
            } else {
                delete_leaf(rel, path, listed);
            }
        }
        result_.reboot_pending = std::move(reboot_pending_);
        result_.schedule_error = schedule_.first_error();
    }

    TreeDeletion take() { return std::move(result_); }

  private:
    bool is_kept(const Components& rel) const {
        for (const Components& k : kept_)
            if (starts_with(rel, k)) return true;
        return false;
    }
    bool holds_kept(const Components& rel) const {
        for (const Components& k : kept_)
            if (k.size() > rel.size() && starts_with(k, rel)) return true;
        return false;
    }

    p::Result<Frame> open_base(std::u16string_view base) {
        auto pin = fs::open_object(os_, base, fs::kPinAccess, fs::kPinShare);
        if (!pin) return std::unexpected(pin.error());
        if (auto ok = fs::verify_handle(os_, *pin, ObjectKind::directory, fs::FileId{}, base); !ok)
            return std::unexpected(ok.error());
        auto entries = list_entries(os_, base);
        if (!entries) return std::unexpected(entries.error());
        return Frame{{}, std::u16string(base), std::move(*pin), std::move(*entries), 0};
    }

    // Opened, read and verified against what the listing said it was: an
    // entry swapped since the listing is never touched.
    p::Status verify_entry(const p::Handle& h, const std::u16string& path, ObjectKind listed) {
        auto identity = fs::read_identity(os_, h);
        if (!identity) return std::unexpected(identity.error());
        return fs::verify_handle(os_, h, *identity, listed, identity->id, path);
    }

    void enter_directory(Components rel, std::u16string path) {
        auto h = fs::open_directory_for_delete_retrying(os_, path, budget_);
        if (!h) return failed_to_delete(rel, path, h.error(), nullptr, true);
        if (!verify_entry(*h, path, ObjectKind::directory))
            return record(rel, DeletionStatus::failed);
        auto entries = list_entries(os_, path);
        if (!entries) return record(rel, DeletionStatus::failed);
        stack_.push_back(
            Frame{std::move(rel), std::move(path), std::move(*h), std::move(*entries), 0});
    }

    void finish_directory(Frame& frame) {
        if (holds_kept(frame.rel)) return;  // left with the kept path inside
        auto deleted = fs::delete_by_handle_retrying(os_, frame.handle, budget_);
        if (deleted) return record(frame.rel, DeletionStatus::deleted);
        failed_to_delete(frame.rel, frame.path, deleted.error(), &frame.handle, true);
    }

    void delete_leaf(const Components& rel, const std::u16string& path, ObjectKind listed) {
        auto h = fs::open_for_delete_retrying(os_, path, budget_);
        if (!h) return failed_to_delete(rel, path, h.error(), nullptr);
        if (!verify_entry(*h, path, listed)) return record(rel, DeletionStatus::failed);
        auto deleted = fs::delete_by_handle_retrying(os_, *h, budget_);
        if (deleted) return record(rel, DeletionStatus::deleted);
        failed_to_delete(rel, path, deleted.error(), &*h);
    }

    // What stays after the budget: the holders are asked once per deletion; a
    // folder that still holds something is scheduled if all of that is; a
    // locked object leaves for the trash if it can and is deleted at restart.
    void failed_to_delete(const Components& rel, const std::u16string& path, const p::Error& error,
                          const p::Handle* handle, bool is_directory = false) {
        if (!holders_queried_) {
            holders_queried_ = true;
            if (holders_.query) holders_.result = holders_.query(path);
        }
        if (is_directory && error.is_win32(p::win32::dir_not_empty)) {
            bool ok = schedule_.schedule_directory_at_reboot(os_, path).has_value();
            return scheduled(rel, ok);
        }
        // A folder that could not even be opened was never emptied: nothing
        // would delete it at restart either.
        bool unopened_directory = is_directory && handle == nullptr;
        if (unopened_directory || !fs::is_retryable(error))
            return record(rel, DeletionStatus::failed);
        std::u16string where = path;
        if (handle != nullptr && ensure_trash_folder(os_, trash_)) {
            if (auto moved = move_to_trash(os_, *handle, trash_)) where = std::move(*moved);
        }
        scheduled(rel, schedule_.schedule_delete_at_reboot(os_, where).has_value());
    }

    void scheduled(const Components& rel, bool ok) {
        if (!ok) return record(rel, DeletionStatus::failed);
        record(rel, DeletionStatus::scheduled);
        reboot_pending_.push_back(join_rel(rel));
    }

    void record(const Components& rel, DeletionStatus status) {
        result_.items.push_back({join_rel(rel), status});
    }

    p::Os& os_;
    std::u16string trash_;
    fs::RetryBudget& budget_;
    HolderSlot& holders_;
    std::vector<Components> kept_;
    std::vector<Frame> stack_;
    RebootSchedule schedule_;
    bool holders_queried_ = false;
    std::vector<std::u16string> reboot_pending_;
    TreeDeletion result_;
};

}  // namespace

TreeDeletion delete_tree(p::Os& os, std::u16string_view base, std::span<const std::u16string> keep,
                         std::u16string_view trash, fs::RetryBudget& budget, HolderSlot& holders) {
    TreeDeleter deleter(os, trash, budget, holders);
    deleter.keep(keep);
    deleter.run(base);
    return deleter.take();
}

}  // namespace holvar::txn::tree
