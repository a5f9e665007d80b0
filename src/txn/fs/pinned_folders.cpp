#include "txn/fs/pinned_folders.hpp"

#include "txn/fs/object_identity.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Result<ObjectProbe> PinnedFolders::probe(p::Os& os, const std::u16string& path) {
    if (auto it = pins_.find(path); it != pins_.end())
        return ObjectProbe{ObjectKind::directory, it->second.id};
    auto pin = open_object(os, path, kPinAccess, kPinShare);
    if (!pin) {
        const p::Error& e = pin.error();
        if (e.is_win32(p::win32::file_not_found) || e.is_win32(p::win32::path_not_found))
            return ObjectProbe{};
        return probe_path(os, path);
    }
    auto identity = read_identity(os, *pin);
    if (!identity) return std::unexpected(identity.error());
    if (identity->kind == ObjectKind::directory)
        pins_.emplace(path, Pin{std::move(*pin), identity->id});
    return identity->probe();
}

void PinnedFolders::release(std::u16string_view path) {
    auto it = pins_.find(path);
    if (it != pins_.end()) it = pins_.erase(it);
    // What lies below `path` sorts right after it, before any other name.
    std::u16string below = std::u16string(path) + u'\\';
    it = pins_.lower_bound(below);
    while (it != pins_.end() && it->first.size() > below.size() &&
           p::ascii_iequal(std::u16string_view(it->first).substr(0, below.size()), below))
        it = pins_.erase(it);
}

p::Result<ObjectProbe> probe_folder(p::Os& os, const std::u16string& path, PinnedFolders* pins) {
    return pins != nullptr ? pins->probe(os, path) : probe_path(os, path);
}

}  // namespace holvar::txn::fs
