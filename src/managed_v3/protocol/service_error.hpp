// The service's error codes, and what an "error" reply becomes on the client:
// an error whose text is "service_rejected:" followed by the code. The texts
// are fixed literals, one per code, so the error stays a plain value that
// never allocates.
#pragma once

#include <cstdint>

#include "managed_v3/protocol/enum_names.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

// X(identifier, text), in declaration order.
#define HOLVAR_V3_SERVICE_ERRORS(X)                                   \
    X(invalid_managed_spec, "invalid_managed_spec")                   \
    X(unsupported_managed_transport, "unsupported_managed_transport") \
    X(unsupported_protocol, "unsupported_protocol")                   \
    X(unsupported_schema, "unsupported_schema")                       \
    X(invalid_frame, "invalid_frame")                                 \
    X(busy, "busy")                                                   \
    X(instance_conflict, "instance_conflict")                         \
    X(generation_conflict, "generation_conflict")                     \
    X(intent_conflict, "intent_conflict")                             \
    X(not_ready, "not_ready")                                         \
    X(invalid_node, "invalid_node")                                   \
    X(identity_rejected, "identity_rejected")                         \
    X(lease_expired, "lease_expired")                                 \
    X(not_lease_owner, "not_lease_owner")                             \
    X(client_identity_rejected, "client_identity_rejected")           \
    X(unsafe_storage, "unsafe_storage")                               \
    X(resource_mismatch, "resource_mismatch")                         \
    X(core_failed, "core_failed")                                     \
    X(controller_failed, "controller_failed")                         \
    X(cancelled, "cancelled")                                         \
    X(deadline_exceeded, "deadline_exceeded")                         \
    X(internal, "internal")                                           \
    X(stale_operation, "stale_operation")

enum class ServiceErrorCode : uint8_t {
#define HOLVAR_V3_ENUMERATOR(id, text) id,
    HOLVAR_V3_SERVICE_ERRORS(HOLVAR_V3_ENUMERATOR)
#undef HOLVAR_V3_ENUMERATOR
};

static_assert(static_cast<int>(ServiceErrorCode::stale_operation) == 22, "23 service error codes");

template <>
struct EnumNames<ServiceErrorCode> {
#define HOLVAR_V3_NAME(id, text) text,
    static constexpr std::array<std::string_view, 23> names = {
        HOLVAR_V3_SERVICE_ERRORS(HOLVAR_V3_NAME)};
#undef HOLVAR_V3_NAME
};

// "service_rejected:<code>".
std::string_view service_rejected_text(ServiceErrorCode code);

// The error an "error" reply becomes (any operation but "capabilities").
platform::Error service_rejected(ServiceErrorCode code);

// An "error" reply to "capabilities": a distinct type, so that a caller can
// tell a service that refused to describe itself from other failures.
struct CapabilityRefusal {
    ServiceErrorCode code;

    platform::Error error() const { return service_rejected(code); }
    friend bool operator==(const CapabilityRefusal&, const CapabilityRefusal&) = default;
};

}  // namespace holvar::v3
