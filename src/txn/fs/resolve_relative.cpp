#include "txn/fs/resolve_relative.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Result<std::vector<std::u16string>> split_relative(std::u16string_view rel) {
    // A NUL would end the text early at the OS; refuse it before splitting.
    auto wide = wide_path(rel);
    if (!wide) return std::unexpected(wide.error());
    p::PathParts parts = p::split_path(rel);
    if (parts.components.empty()) return p::invalid_input("empty relative path");
    if (parts.prefix_kind != p::PathPrefix::none || parts.has_root)
        return p::invalid_input("invalid relative path");
    for (const std::u16string& c : parts.components)
        if (c == u"." || c == u"..") return p::invalid_input("invalid relative path");
    return std::move(parts.components);
}

p::Result<ObjectProbe> resolve_relative(p::Os& os, std::u16string_view base,
                                        std::u16string_view rel, PinnedFolders* pins) {
    auto components = split_relative(rel);
    if (!components) return std::unexpected(components.error());
    // A path the OS could not take is refused before the first probe, not
    // halfway through the walk.
    std::u16string full(base);
    for (const std::u16string& c : *components) full = p::join_path(full, c);
    if (auto wide = wide_path(full); !wide) return std::unexpected(wide.error());

    std::u16string path(base);
    for (size_t i = 0; i < components->size(); ++i) {
        path = p::join_path(path, (*components)[i]);
        const bool last = i + 1 == components->size();
        auto probe = last ? probe_path(os, path) : probe_folder(os, path, pins);
        if (!probe) return std::unexpected(probe.error());
        if (last) return *probe;
        if (probe->kind != ObjectKind::directory) return ObjectProbe{};
    }
    return ObjectProbe{};  // not reached: there is at least one component
}

}  // namespace holvar::txn::fs
