#include "managed_v3/protocol/service_error.hpp"

namespace holvar::v3 {
namespace {

#define HOLVAR_V3_REJECTED(id, text) "service_rejected:" text,
constexpr std::array<std::string_view, 23> kRejectedTexts = {
    HOLVAR_V3_SERVICE_ERRORS(HOLVAR_V3_REJECTED)};
#undef HOLVAR_V3_REJECTED

}  // namespace

std::string_view service_rejected_text(ServiceErrorCode code) {
    return kRejectedTexts[static_cast<std::size_t>(code)];
}

platform::Error service_rejected(ServiceErrorCode code) {
    return platform::Error{platform::ErrorKind::other, 0, service_rejected_text(code)};
}

}  // namespace holvar::v3
