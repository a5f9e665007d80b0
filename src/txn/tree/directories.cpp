#include "txn/tree/directories.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::tree {

namespace p = platform;
using fs::ObjectKind;

p::Status ensure_directories(p::Os& os, std::u16string_view base,
                             std::span<const std::u16string> components, fs::PinnedFolders* pins) {
    std::u16string path(base);
    for (const std::u16string& c : components) {
        path = p::join_path(path, c);
        auto probe = fs::probe_folder(os, path, pins);
        if (!probe) return std::unexpected(probe.error());
        if (probe->kind == ObjectKind::directory) continue;
        if (probe->kind != ObjectKind::absent) return p::foreign_identity();
        auto wide = fs::wide_path(path);
        if (!wide) return std::unexpected(wide.error());
        if (auto made = os.files.create_directory(*wide); !made) return made;
    }
    return {};
}

p::Status require_plain_parents(p::Os& os, std::u16string_view base,
                                std::span<const std::u16string> components,
                                fs::PinnedFolders* pins) {
    std::u16string path(base);
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        path = p::join_path(path, components[i]);
        auto probe = fs::probe_folder(os, path, pins);
        if (!probe) return std::unexpected(probe.error());
        if (probe->kind != ObjectKind::directory) return p::foreign_identity();
    }
    return {};
}

p::Result<std::vector<p::FindData>> list_entries(p::Os& os, std::u16string_view dir) {
    auto pattern = fs::wide_path(p::join_path(dir, u"*"));
    if (!pattern) return std::unexpected(pattern.error());
    auto found = os.files.find_files(*pattern);
    if (!found) {
        if (found.error().is_win32(p::win32::file_not_found)) return std::vector<p::FindData>{};
        return std::unexpected(found.error());
    }
    std::erase_if(*found,
                  [](const p::FindData& d) { return d.file_name == u"." || d.file_name == u".."; });
    return found;
}

p::Result<std::vector<std::u16string>> list_directory(p::Os& os, std::u16string_view dir) {
    auto entries = list_entries(os, dir);
    if (!entries) return std::unexpected(entries.error());
    std::vector<std::u16string> names;
    names.reserve(entries->size());
    for (p::FindData& d : *entries) names.push_back(std::move(d.file_name));
    return names;
}

}  // namespace holvar::txn::tree
