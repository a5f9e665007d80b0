// A response frame as read from the service's pipe: the length prefix, the
// structural check and the envelope, fed arbitrary bytes. No input may crash
// the reader, and a frame it accepts must satisfy every rule it claims to
// check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "managed_v3/protocol/frame_precheck.hpp"
#include "managed_v3/transport/frame.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace holvar::v3;
    const std::span<const uint8_t> frame(data, size);
    // Two limits: the installer's, and the largest a request can ask for.
    for (uint64_t limit : {uint64_t{65536}, ~uint64_t{0}}) {
        auto decoded = decode_response_frame(frame, limit);
        if (!decoded) {
            if (decoded.error().text != "invalid_frame") std::abort();
            continue;
        }
        if (size < kFramePrefixBytes) std::abort();
        const uint32_t length = decode_frame_length(frame.first<kFramePrefixBytes>());
        if (length == 0 || length > response_payload_limit(limit)) std::abort();
        if (size - kFramePrefixBytes < length) std::abort();
        const std::string_view payload(reinterpret_cast<const char*>(data) + kFramePrefixBytes,
                                       length);
        if (!passes_structure_precheck(payload)) std::abort();
        // What was accepted is a well-formed envelope: validating it cannot crash.
        (void)validate_response_envelope(*decoded, decoded->request_id);
    }
    return 0;
}
