// The proof that the service about to be stopped is this installation's
// service: configured as a LocalSystem service of its own process whose image
// is the trusted file at <root>\resources\holvar-service.exe, and, when it
// has a process, that the process is alive, LocalSystem and runs that file.
#pragma once

#include <optional>
#include <string_view>

#include "managed_v3/identity/path_walk.hpp"
#include "platform/os.hpp"

namespace holvar::txn::scm {

struct VerifiedService {
    v3::PinnedPath image;         // the walk of the expected image, held open
    std::optional<uint32_t> pid;  // the process, when the service had one
    platform::Handle process;     // open for QUERY_LIMITED | SYNCHRONIZE
};

// A configured image path the SCM runs exactly as written: one quoted path,
// or a bare one the command line cannot split. None otherwise.
std::optional<std::u16string> unambiguous_image(const std::u16string& configured);

// The configured image path with its enclosing quotes removed, checked to be
// <root>\resources\holvar-service.exe: "unsafe_installation" otherwise.
platform::Result<std::u16string> service_image_path(std::u16string_view binary_path);

// The gate on a service handle opened with QUERY_CONFIG | QUERY_STATUS, for
// the image at `image` already walked into `walked`. Every failure is
// "service_identity_rejected".
platform::Result<VerifiedService> verify_service_identity(platform::Os& os,
                                                          const platform::Handle& service,
                                                          std::u16string_view image,
                                                          v3::PinnedPath walked);

}  // namespace holvar::txn::scm
