// What a freshly started service must declare in its capabilities before the
// installer trusts it: protocol 3, schema 2, and every flag the installer
// depends on. The record's sizes are bounded first, so that a hostile service
// cannot make the flag search costly.
#pragma once

#include <array>
#include <string_view>

#include "managed_v3/protocol/records.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

inline constexpr uint16_t kRequiredSchema = 2;

inline constexpr std::array<std::string_view, 7> kRequiredCapabilityFlags = {
    "managed_schema_2",     "client_lease",      "tun_optional",         "probe_priority",
    "tcp_bound_controller", "stop_intent_epoch", "typed_runtime_actions"};

// Known to the client, not required: goes with the "owner_op" fields.
inline constexpr std::string_view kOwnerOpsFlag = "owner_ops_v1";

inline constexpr std::size_t kMaxCapabilityFlags = 32;
inline constexpr std::size_t kMaxCapabilityFlagBytes = 64;
inline constexpr std::size_t kMaxBuildVersionBytes = 128;

inline constexpr std::string_view kCapabilitiesRequired = "verified_v3_capabilities_required";

// In this order: at most 32 flags of at most 64 bytes and a build version of
// at most 128 bytes ("invalid_v3_response"); then protocol 3, schema 2 and
// every required flag, compared as whole case-sensitive texts, in any order,
// others ignored ("verified_v3_capabilities_required").
platform::Status check_capabilities(const Capabilities& capabilities);

}  // namespace holvar::v3
