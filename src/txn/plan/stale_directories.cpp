#include "txn/plan/stale_directories.hpp"

#include <algorithm>

#include "platform/win_path.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/plan/scan_tree.hpp"

namespace holvar::txn::plan {

namespace pf = platform;

namespace {

bool is_not_found(const pf::Error& e) {
    return e.is_win32(pf::win32::file_not_found) || e.is_win32(pf::win32::path_not_found);
}

pf::Result<std::vector<std::u16string>> recompute(pf::Os& os, const std::u16string& root,
                                                  const std::u16string& payload_dir,
                                                  const std::vector<std::u16string>& generated) {
    auto installed = scan_tree(os, root, generated);
    if (!installed) return std::unexpected(installed.error());
    auto payload = scan_tree(os, payload_dir, generated);
    if (!payload) return std::unexpected(payload.error());
    std::vector<std::u16string> stale;
    for (const auto& [rel, entry] : *installed) {
        if (entry.kind == EntryKind::directory && !payload->contains(rel)) stale.push_back(rel);
    }
    return stale;
}

// Whether the directory holds anything; none when it is gone already.
pf::Result<std::optional<bool>> holds_entries(pf::Os& os, const std::u16string& path) {
    auto listing = os.files.find_files(pf::join_path(path, u"*"));
    if (!listing) {
        if (is_not_found(listing.error())) return std::optional<bool>{};
        return std::unexpected(listing.error());
    }
    for (const pf::FindData& f : *listing) {
        if (f.file_name != u"." && f.file_name != u"..") return std::optional<bool>{true};
    }
    return std::optional<bool>{false};
}

pf::Status remove_if_empty(pf::Os& os, const std::u16string& path) {
    auto occupied = holds_entries(os, path);
    if (!occupied) return std::unexpected(occupied.error());
    if (!occupied->has_value() || **occupied) return {};
    auto h = fs::open_object(os, path, fs::kRenameDeleteAccess, fs::kShareAll);
    if (!h) {
        if (is_not_found(h.error())) return {};
        return std::unexpected(h.error());
    }
    if (auto ok = fs::verify_handle(os, *h, fs::ObjectKind::directory, fs::FileId{}, path); !ok) {
        return ok;
    }
    return fs::delete_by_handle(os, *h);
}

}  // namespace

pf::Status remove_stale_directories(pf::Os& os, const std::u16string& root,
                                    const std::u16string& payload_dir,
                                    const std::optional<std::vector<std::u16string>>& stale,
                                    const std::vector<std::u16string>& generated) {
    std::vector<std::u16string> dirs;
    if (stale) {
        dirs = *stale;
    } else {
        auto fresh = recompute(os, root, payload_dir, generated);
        if (!fresh) return std::unexpected(fresh.error());
        dirs = std::move(*fresh);
    }
    auto depth = [](const std::u16string& p) { return std::count(p.begin(), p.end(), u'\\'); };
    std::stable_sort(
        dirs.begin(), dirs.end(),
        [&](const std::u16string& a, const std::u16string& b) { return depth(a) > depth(b); });
    for (const std::u16string& rel : dirs) {
        if (auto removed = remove_if_empty(os, pf::join_path(root, rel)); !removed) return removed;
    }
    return {};
}

}  // namespace holvar::txn::plan
