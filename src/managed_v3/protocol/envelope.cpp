#include "managed_v3/protocol/envelope.hpp"

#include "managed_v3/protocol/bounded_text.hpp"
#include "managed_v3/protocol/frame_precheck.hpp"
#include "managed_v3/protocol/op_encoder.hpp"
#include "managed_v3/protocol/reply_decoder.hpp"
#include "managed_v3/protocol/strict_json.hpp"

namespace holvar::v3 {
namespace {

std::unexpected<platform::Error> message_error(std::string_view text) {
    return platform::fail(platform::ErrorKind::other, text);
}

bool decode_object_envelope(const Json& value, ResponseEnvelope& out) {
    FieldReader fields(value);
    return fields.required("protocol", out.protocol) &&
           fields.required("request_id", out.request_id) && fields.required("token", out.token) &&
           fields.required("result", out.result) && fields.done();
}

bool decode_array_envelope(const Json& value, ResponseEnvelope& out) {
    return value.size() == 4 && decode_value(value[0], out.protocol) &&
           decode_value(value[1], out.request_id) && decode_value(value[2], out.token) &&
           decode_value(value[3], out.result);
}

// The status whose token must match the envelope's, if the reply has one.
const Status* status_of(const Reply& reply) {
    if (const Status* status = reply.get<Status>()) return status;
    if (const ApplyResult* apply = reply.get<ApplyResult>()) return &apply->status;
    return nullptr;
}

}  // namespace

platform::Result<std::string> encode_request_envelope(uint64_t request_id, const RequestOp& op,
                                                      std::size_t limit) {
    platform::Result<OrderedJson> op_value = encode_op(op);
    if (!op_value) return std::unexpected(op_value.error());
    OrderedJson envelope = OrderedJson::object();
    envelope["protocol"] = kProtocolVersion;
    envelope["request_id"] = request_id;
    envelope["op"] = std::move(*op_value);
    std::optional<std::string> text = compact_text_within(envelope, limit);
    if (!text) return invalid_frame();
    return std::move(*text);
}

platform::Result<ResponseEnvelope> parse_response_envelope(std::string_view payload) {
    platform::Result<Json> value = parse_strict(payload, kMaxFrameDepth);
    if (!value) return std::unexpected(value.error());
    ResponseEnvelope envelope;
    const bool decoded = value->is_array() ? decode_array_envelope(*value, envelope)
                                           : decode_object_envelope(*value, envelope);
    if (!decoded) return invalid_frame();
    return envelope;
}

bool is_valid_service_instance(std::string_view instance) {
    if (instance.empty() || instance.size() > 128) return false;
    for (const char c : instance) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '-') return false;
    }
    return true;
}

platform::Status validate_response_envelope(const ResponseEnvelope& envelope, uint64_t request_id) {
    if (envelope.request_id != request_id) return message_error(kInvalidV3Response);
    if (!is_valid_service_instance(envelope.token.service_instance)) {
        return message_error(kInvalidV3Response);
    }
    if (envelope.protocol != kProtocolVersion) return message_error(kIncompatibleV3Protocol);
    const Status* status = status_of(envelope.result);
    if (status != nullptr && status->token != envelope.token) {
        return message_error(kInconsistentV3Response);
    }
    return {};
}

}  // namespace holvar::v3
