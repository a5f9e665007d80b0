// The envelopes around v3 messages: the request envelope a client writes and
// the response envelope it reads, with the checks every response passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "managed_v3/protocol/reply.hpp"
#include "managed_v3/protocol/request_op.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

inline constexpr uint16_t kProtocolVersion = 3;
inline constexpr std::size_t kMaxPayloadBytes = 8 * 1024 * 1024;

// Texts of the envelope checks.
inline constexpr std::string_view kInvalidV3Response = "invalid_v3_response";
inline constexpr std::string_view kIncompatibleV3Protocol = "incompatible_v3_protocol";
inline constexpr std::string_view kInconsistentV3Response = "inconsistent_v3_response";

struct ResponseEnvelope {
    uint16_t protocol = 0;
    uint64_t request_id = 0;
    StateToken token;
    Reply result;
    friend bool operator==(const ResponseEnvelope&, const ResponseEnvelope&) = default;
};

// {"protocol":3,"request_id":<id>,"op":<operation>}, compact, written into a
// buffer that stops at 8 MiB. An operation JSON cannot carry, or a request
// over the limit, is "invalid_frame".
platform::Result<std::string> encode_request_envelope(uint64_t request_id, const RequestOp& op,
                                                      std::size_t limit = kMaxPayloadBytes);

// Parses a response payload: an object with exactly the keys "protocol",
// "request_id", "token" and "result" (each once, in any order), or an array
// of those four values in that order. Nesting beyond 16 levels, a parse
// error or any decoding failure of the token or the reply is "invalid_frame".
platform::Result<ResponseEnvelope> parse_response_envelope(std::string_view payload);

// The checks a parsed envelope passes, in this order: the request id is the
// request's ("invalid_v3_response"); the token's service instance is 1 to 128
// ASCII letters, digits or '-' ("invalid_v3_response"); the protocol is 3
// ("incompatible_v3_protocol"); the token inside a "status" or "apply" reply
// equals the envelope's ("inconsistent_v3_response").
platform::Status validate_response_envelope(const ResponseEnvelope& envelope, uint64_t request_id);

// Whether a service instance text has the form the client accepts.
bool is_valid_service_instance(std::string_view instance);

}  // namespace holvar::v3
