#include "txn/plan/scan_tree.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/journal/text_codec.hpp"
#include "txn/plan/name_rules.hpp"

namespace holvar::txn::plan {

namespace pf = platform;

namespace {

// One directory of the walk: pinned while it is listed and while its subtree
// is walked, so nobody can move or delete it from under the inventory.
struct Frame {
    std::u16string prefix;  // relative path of the directory ("" for the base)
    pf::Handle pin;
    std::vector<pf::FindData> entries;
    size_t next = 0;
};

EntryKind entry_kind(fs::ObjectKind kind) {
    switch (kind) {
        case fs::ObjectKind::directory:
            return EntryKind::directory;
        case fs::ObjectKind::reparse:
            return EntryKind::reparse;
        default:
            return EntryKind::file;
    }
}

pf::Result<Frame> open_directory(pf::Os& os, const std::u16string& base, std::u16string prefix) {
    std::u16string path = prefix.empty() ? base : pf::join_path(base, prefix);
    auto pin = fs::open_object(os, path, fs::kPinAccess, fs::kPinShare);
    if (!pin) return std::unexpected(pin.error());
    if (auto ok = fs::verify_handle(os, *pin, fs::ObjectKind::directory, fs::FileId{}, path); !ok) {
        return std::unexpected(ok.error());
    }
    auto listing = os.files.find_files(pf::join_path(path, u"*"));
    if (!listing) return std::unexpected(listing.error());
    return Frame{std::move(prefix), std::move(*pin), std::move(*listing), 0};
}

// The entry as it is now, checked against what the listing said it was.
pf::Result<TreeEntry> open_entry(pf::Os& os, const std::u16string& path,
                                 const pf::FindData& listed) {
    auto h = fs::open_object(os, path, fs::kProbeAccess, fs::kShareAll);
    if (!h) return std::unexpected(h.error());
    auto identity = fs::read_identity(os, *h);
    if (!identity) return std::unexpected(identity.error());
    fs::ObjectKind listed_kind = fs::kind_from_attributes(listed.file_attributes);
    if (auto ok = fs::verify_handle(os, *h, *identity, listed_kind, identity->id, path); !ok) {
        return std::unexpected(ok.error());
    }
    return TreeEntry{entry_kind(identity->kind), identity->id};
}

}  // namespace

pf::Result<TreeInventory> scan_tree(pf::Os& os, const std::u16string& base,
                                    const std::vector<std::u16string>& exclusions) {
    TreeInventory inventory;
    std::vector<Frame> stack;
    auto top = open_directory(os, base, u"");
    if (!top) return std::unexpected(top.error());
    stack.push_back(std::move(*top));

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();  // closes the pin
            continue;
        }
        const pf::FindData& found = frame.entries[frame.next++];
        const std::u16string& name = found.file_name;
        if (name == u"." || name == u"..") continue;

        // A separator inside a listed name would make one name read as two.
        if (name.find(u'\\') != std::u16string::npos || !journal::is_valid_utf16(name)) {
            return pf::invalid_data("unsafe name");
        }
        // The directory's own path passed already: the name decides.
        if (!is_safe_relative_name(name)) return pf::invalid_data("unsafe name");
        std::u16string rel = frame.prefix.empty() ? name : frame.prefix + u'\\' + name;
        if (is_covered_by(rel, exclusions)) continue;

        auto entry = open_entry(os, pf::join_path(base, rel), found);
        if (!entry) return std::unexpected(entry.error());
        EntryKind kind = entry->kind;
        auto [it, inserted] = inventory.emplace(rel, *entry);
        if (!inserted) return pf::invalid_data("duplicate name");

        if (kind == EntryKind::directory) {
            auto sub = open_directory(os, base, std::move(rel));
            if (!sub) return std::unexpected(sub.error());
            stack.push_back(std::move(*sub));  // `frame` is not used after this
        }
    }
    return inventory;
}

}  // namespace holvar::txn::plan
