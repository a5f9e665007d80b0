// The processes that hold a file open, as the Restart Manager reports them,
// for the holders section of the outcome report.
#pragma once

#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::quiesce {

// UTF-16 units for a process's image path: the longest path Windows allows.
inline constexpr uint32_t kImageUnits = 32768;

// The list (possibly empty) or the Win32 error of the first call that failed;
// a holder that cannot be opened or whose image cannot be read fails the
// whole query. The engine's own process is never listed.
platform::Result<std::vector<outcome::ProcessEntry>> list_file_holders(platform::Os& os,
                                                                       std::u16string_view path);

// The file name part of an image path (after the last backslash or slash),
// unpaired surrogates replaced by U+FFFD.
std::u16string image_file_name(std::u16string_view image);

}  // namespace holvar::txn::quiesce
