#include "txn/fs/owned_folder.hpp"

#include <string>

#include "txn/fs/protected_directory.hpp"
#include "txn/fs/trusted_directory.hpp"

namespace holvar::txn::fs {

namespace p = platform;

p::Result<p::Handle> ensure_owned_folder(p::Os& os, std::u16string_view path) {
    // Whatever is at the name is looked at without following it: a link or a
    // folder someone else made there fails. Only a missing one is created.
    const std::u16string folder(path);
    auto pinned = pin_trusted_directory(os, folder);
    if (pinned) return pinned;
    const p::Error& e = pinned.error();
    if (!e.is_win32(p::win32::file_not_found) && !e.is_win32(p::win32::path_not_found))
        return pinned;
    p::Status made = create_protected_directory(os, path);
    if (!made && !made.error().is_win32(p::win32::already_exists))
        return std::unexpected(made.error());
    return pin_trusted_directory(os, folder);
}

}  // namespace holvar::txn::fs
