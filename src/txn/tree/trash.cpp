#include "txn/tree/trash.hpp"

#include <string>

#include "platform/win_path.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/owned_folder.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::txn::tree {

namespace p = platform;

namespace {

std::u16string decimal(uint64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string trash_op_name(uint32_t seq) {
    return u"op-" + decimal(seq);
}

std::u16string trash_dir_entry_name(uint32_t seq, uint64_t n) {
    return u"dir-" + decimal(seq) + u"-" + decimal(n);
}

std::u16string trash_tree_name(uint32_t pid, uint32_t n) {
    return u"tree-" + decimal(pid) + u"-" + decimal(n);
}

p::Status ensure_trash_folder(p::Os& os, std::u16string_view trash) {
    auto owned = fs::ensure_owned_folder(os, trash);
    if (!owned) return std::unexpected(owned.error());
    return {};
}

p::Result<std::u16string> move_to_trash(p::Os& os, const p::Handle& handle,
                                        std::u16string_view trash) {
    uint32_t pid = os.processes.get_current_process_id();
    p::Error last = p::Error{p::ErrorKind::win32, p::win32::already_exists, "win32"};
    for (uint32_t n = 0; n < kTreeTrashNames; ++n) {
        std::u16string target = p::join_path(trash, trash_tree_name(pid, n));
        auto moved = fs::rename_by_handle(os, handle, target, false);
        if (moved) return target;
        last = moved.error();
        if (!last.is_win32(p::win32::file_exists) && !last.is_win32(p::win32::already_exists))
            break;
    }
    return std::unexpected(last);
}

}  // namespace holvar::txn::tree
