// Reading the paths of the pending rename list. The session manager writes
// them in its own spelling: an NT prefix ("\??\"), sometimes a "*<n>" marker
// before it, and "!" before a target that replaces what is there. What is
// left is compared as any other path of the engine: case-insensitive, whole
// components. Reading errs towards "touches": a wrong "no" lets a restart
// undo an install, a wrong "yes" only asks for a restart first.
#include "platform/win_path.hpp"
#include "txn/registry/registry.hpp"

namespace holvar::txn::registry {

namespace {

// "*" and the digits after it. '*' cannot start a file name, so whatever
// follows it is the path.
std::u16string_view strip_marker(std::u16string_view entry) {
    if (entry.empty() || entry.front() != u'*') return entry;
    entry.remove_prefix(1);
    while (!entry.empty() && entry.front() >= u'0' && entry.front() <= u'9') entry.remove_prefix(1);
    return entry;
}

std::u16string_view strip_replace(std::u16string_view entry) {
    if (!entry.empty() && entry.front() == u'!') entry.remove_prefix(1);
    return entry;
}

std::u16string_view strip_namespace(std::u16string_view entry) {
    for (std::u16string_view prefix :
         {std::u16string_view(u"\\??\\"), std::u16string_view(u"\\\\?\\")})
        if (entry.starts_with(prefix)) return entry.substr(prefix.size());
    return entry;
}

// A target's "!" may come before or after the "*<n>" marker.
std::u16string_view pending_target_path(std::u16string_view entry) {
    return strip_namespace(strip_replace(strip_marker(strip_replace(entry))));
}

bool overlaps(std::u16string_view path, std::u16string_view root) {
    if (path.empty()) return false;
    return platform::path_lies_under(path, root) || platform::path_lies_under(root, path);
}

}  // namespace

std::u16string_view pending_rename_path(std::u16string_view entry) {
    return strip_namespace(strip_marker(entry));
}

bool pending_renames_touch(const std::vector<PendingRename>& renames, std::u16string_view root) {
    for (const PendingRename& r : renames) {
        if (overlaps(pending_rename_path(r.source), root)) return true;
        if (!r.target.empty() && overlaps(pending_target_path(r.target), root)) return true;
    }
    return false;
}

}  // namespace holvar::txn::registry
