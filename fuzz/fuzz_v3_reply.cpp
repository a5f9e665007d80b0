// Reply and record decoding of the v3 protocol, fed arbitrary JSON texts: no
// input may crash the decoders, and a decoded reply always holds the record
// of its kind.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "managed_v3/protocol/capabilities_check.hpp"
#include "managed_v3/protocol/frame_precheck.hpp"
#include "managed_v3/protocol/reply_decoder.hpp"

namespace {

using namespace holvar::v3;

// The alternative of ReplyData that each kind must hold.
std::size_t expected_alternative(ReplyKind kind) {
    switch (kind) {
        case ReplyKind::done:
            return 0;
        case ReplyKind::capabilities:
            return 1;
        case ReplyKind::status:
            return 2;
        case ReplyKind::apply:
            return 3;
        case ReplyKind::nodes:
            return 4;
        case ReplyKind::probe:
            return 5;
        case ReplyKind::metrics:
            return 6;
        case ReplyKind::error:
            return 7;
    }
    return std::variant_npos;
}

template <class T>
void decode_record(const Json& value) {
    T record{};
    (void)decode_value(value, record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)passes_structure_precheck(text);
    const auto value = parse_strict(text, kMaxFrameDepth);
    if (!value) return 0;

    const auto reply = decode_reply(*value);
    if (reply) {
        if (reply->data.index() != expected_alternative(reply->kind)) __builtin_trap();
        if (const Capabilities* capabilities = reply->get<Capabilities>()) {
            (void)check_capabilities(*capabilities);
        }
        if (const ServiceErrorCode* code = reply->get<ServiceErrorCode>()) {
            if (!service_rejected(*code).text.starts_with("service_rejected:")) __builtin_trap();
        }
    }
    (void)decode_state_token(*value);
    decode_record<Capabilities>(*value);
    decode_record<Status>(*value);
    decode_record<ApplyResult>(*value);
    decode_record<NodesView>(*value);
    decode_record<ProbeResult>(*value);
    decode_record<Metrics>(*value);
    return 0;
}
