#include "managed_v3/transport/frame.hpp"

#include <algorithm>

#include "managed_v3/protocol/frame_precheck.hpp"
#include "managed_v3/protocol/strict_json.hpp"

namespace holvar::v3 {

std::array<uint8_t, kFramePrefixBytes> encode_frame_length(uint32_t length) {
    return {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
}

uint32_t decode_frame_length(std::span<const uint8_t, kFramePrefixBytes> prefix) {
    return static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
           static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24;
}

platform::Result<std::string> encode_request_payload(uint64_t request_id, const RequestOp& op) {
    auto payload = encode_request_envelope(request_id, op, kMaxPayloadBytes);
    if (!payload) return invalid_frame();
    if (!passes_structure_precheck(*payload)) return invalid_frame();
    return payload;
}

uint64_t response_payload_limit(uint64_t max_response_size) {
    return std::min<uint64_t>(max_response_size, kMaxPayloadBytes);
}

platform::Status check_response_length(uint32_t length, uint64_t max_response_size) {
    if (length == 0 || length > response_payload_limit(max_response_size)) return invalid_frame();
    return {};
}

platform::Result<ResponseEnvelope> decode_response_payload(std::string_view payload) {
    if (!passes_structure_precheck(payload)) return invalid_frame();
    auto envelope = parse_response_envelope(payload);
    if (!envelope) return invalid_frame();
    return envelope;
}

platform::Result<ResponseEnvelope> decode_response_frame(std::span<const uint8_t> frame,
                                                         uint64_t max_response_size) {
    if (frame.size() < kFramePrefixBytes) return invalid_frame();
    const uint32_t length = decode_frame_length(frame.first<kFramePrefixBytes>());
    if (auto ok = check_response_length(length, max_response_size); !ok)
        return std::unexpected(ok.error());
    if (frame.size() - kFramePrefixBytes < length) return invalid_frame();
    const auto payload = frame.subspan(kFramePrefixBytes, length);
    return decode_response_payload(
        std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
}

}  // namespace holvar::v3
