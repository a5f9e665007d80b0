// The client of the installed service's pipe protocol: one request per
// connection. Each request opens the pipe, verifies its server, writes one
// frame, reads one frame, verifies the server again, checks the envelope and
// closes everything.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "managed_v3/protocol/envelope.hpp"
#include "managed_v3/protocol/request_op.hpp"
#include "managed_v3/transport/v3_error.hpp"
#include "platform/os.hpp"

namespace holvar::v3 {

class V3Client {
  public:
    // The full path of the service's image under the install root; every
    // server of the pipe is checked against it.
    explicit V3Client(std::u16string expected_service_image)
        : expected_image_(std::move(expected_service_image)) {}

    const std::u16string& expected_image() const { return expected_image_; }

    // Ids run 1, 2, 3 ...; the last value of the counter is never handed out.
    // Atomic, so that a client could be shared.
    std::optional<uint64_t> take_request_id();

  private:
    std::u16string expected_image_;
    std::atomic<uint64_t> next_request_id_{1};

    friend struct V3ClientTestAccess;
};

struct V3Request {
    RequestOp operation;
    platform::Duration request_timeout = std::chrono::seconds(2);
    std::optional<platform::Instant> overall_deadline;
    uint64_t max_response_size = 65536;
};

// One request: the validated envelope of the service's answer, or the
// failure of whichever step ended it.
V3Result<ResponseEnvelope> v3_request(platform::Os& os, V3Client& client, const V3Request& request);

}  // namespace holvar::v3
