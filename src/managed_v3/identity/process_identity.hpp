// The identity blocks that decide whether a process is the managed service
// (or the companion) this engine installed: alive, running as LocalSystem,
// its image the very file at the expected, trusted path. Every failure is
// "service_identity_rejected"; nothing is retried.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "managed_v3/identity/path_walk.hpp"
#include "platform/os.hpp"

namespace holvar::v3 {

inline constexpr std::string_view kIdentityRejected = "service_identity_rejected";
std::unexpected<platform::Error> identity_rejected();

inline constexpr uint32_t kImageNameUnits = 32768;

// The walk of `expected_image`, extended with a handle to the image of
// `process`, which must be that same file under that same final path.
platform::Result<PinnedPath> verify_process_image(platform::Os& os,
                                                  std::u16string_view expected_image,
                                                  const platform::Handle& process);
// The process runs under the LocalSystem SID.
platform::Status verify_process_is_system(platform::Os& os, const platform::Handle& process);
// OpenProcess(QUERY_LIMITED | SYNCHRONIZE) on a process that has not ended.
platform::Result<platform::Handle> open_live_process(platform::Os& os, uint32_t pid);
// Whether the process behind the handle is still running (a zero wait times out).
platform::Result<bool> process_is_alive(platform::Os& os, const platform::Handle& process);
// Volume serial and file index of both handles agree.
platform::Result<bool> same_file(platform::Os& os, const platform::Handle& a,
                                 const platform::Handle& b);
// GetFinalPathNameByHandleW, normalized DOS form.
platform::Result<std::u16string> final_path(platform::Os& os, const platform::Handle& h);

}  // namespace holvar::v3
