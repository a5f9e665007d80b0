// One request frame out and one response frame in, on a verified connection,
// every wait bounded: the exchange as a whole by the request timeout, the
// write phase by 2 seconds, the read phase by the request timeout counted
// from the end of the write, and all of it by the overall deadline.
#pragma once

#include <cstdint>
#include <optional>

#include "managed_v3/protocol/envelope.hpp"
#include "managed_v3/protocol/request_op.hpp"
#include "managed_v3/transport/v3_connection.hpp"
#include "managed_v3/transport/v3_error.hpp"
#include "platform/os.hpp"

namespace holvar::v3 {

struct ExchangeLimits {
    platform::Duration request_timeout{};
    std::optional<platform::Instant> deadline;
    uint64_t max_response_size = 0;
};

// A phase or the exchange that outlives its timer is
// "request_deadline_exceeded_reconcile_status"; the overall deadline coming
// first is "verified_v3_start_timeout". A failed write is
// "pipe_write_failed_reconcile_status"; a bad prefix, a short or failed read
// and any malformed payload are "invalid_frame". The response buffer is
// allocated only once its length has passed the limit.
V3Result<ResponseEnvelope> v3_exchange(platform::Os& os, const V3Connection& connection,
                                       uint64_t request_id, const RequestOp& op,
                                       const ExchangeLimits& limits);

}  // namespace holvar::v3
