#include "managed_v3/protocol/capabilities_check.hpp"

#include <algorithm>

#include "managed_v3/protocol/envelope.hpp"

namespace holvar::v3 {

platform::Status check_capabilities(const Capabilities& capabilities) {
    const auto& flags = capabilities.flags;
    const bool flag_too_long = std::any_of(flags.begin(), flags.end(), [](const std::string& f) {
        return f.size() > kMaxCapabilityFlagBytes;
    });
    if (flags.size() > kMaxCapabilityFlags || flag_too_long ||
        capabilities.build_version.size() > kMaxBuildVersionBytes) {
        return platform::fail(platform::ErrorKind::other, kInvalidV3Response);
    }
    const bool has_all_flags =
        std::all_of(kRequiredCapabilityFlags.begin(), kRequiredCapabilityFlags.end(),
                    [&](std::string_view required) {
                        return std::find(flags.begin(), flags.end(), required) != flags.end();
                    });
    if (capabilities.protocol != kProtocolVersion || capabilities.schema != kRequiredSchema ||
        flags.empty() || !has_all_flags) {
        return platform::fail(platform::ErrorKind::other, kCapabilitiesRequired);
    }
    return {};
}

}  // namespace holvar::v3
