// Frames on the service's pipe, both ways: a 4-byte little-endian payload
// length, then the payload, one compact JSON document in UTF-8. Nothing else:
// the protocol version travels inside the envelope.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "managed_v3/protocol/envelope.hpp"
#include "managed_v3/protocol/request_op.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

inline constexpr std::size_t kFramePrefixBytes = 4;

std::array<uint8_t, kFramePrefixBytes> encode_frame_length(uint32_t length);
uint32_t decode_frame_length(std::span<const uint8_t, kFramePrefixBytes> prefix);

// The request's payload: the envelope serialized within 8 MiB and passing the
// same structural check as a response; anything else is "invalid_frame".
platform::Result<std::string> encode_request_payload(uint64_t request_id, const RequestOp& op);

// The largest response payload a request accepts: its own limit, never more
// than 8 MiB.
uint64_t response_payload_limit(uint64_t max_response_size);

// A response length prefix: 0, or more than the limit, is "invalid_frame".
// Checked before anything is allocated for the payload.
platform::Status check_response_length(uint32_t length, uint64_t max_response_size);

// A response payload: the structural check first, then the envelope parse.
platform::Result<ResponseEnvelope> decode_response_payload(std::string_view payload);

// A whole response frame as it was read from the pipe: the prefix, then at
// least the payload it announces (bytes after it are not part of the frame).
// Too few bytes are a short read: "invalid_frame".
platform::Result<ResponseEnvelope> decode_response_frame(std::span<const uint8_t> frame,
                                                         uint64_t max_response_size);

}  // namespace holvar::v3
