#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {

platform::Result<std::u16string> wide_path(std::u16string_view path) {
    if (path.find(u'\0') != std::u16string_view::npos)
        return platform::invalid_input("embedded NUL");
    if (path.size() + 1 >= kMaxPathUnits) return platform::invalid_input("path too long");
    return std::u16string(path);
}

}  // namespace holvar::txn::fs
