#include "managed_v3/transport/v3_exchange.hpp"

#include <algorithm>
#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "managed_v3/protocol/strict_json.hpp"
#include "managed_v3/transport/blocking_step.hpp"
#include "managed_v3/transport/frame.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;
using namespace std::chrono_literals;

namespace {

constexpr p::Duration kWritePhase = 2s;

// The timers a wait inside the exchange runs under; the earliest one bounds it.
struct PhaseTimers {
    p::Instant phase_end;
    p::Instant exchange_end;
    std::optional<p::Instant> deadline;

    p::Instant earliest() const {
        p::Instant end = std::min(phase_end, exchange_end);
        return deadline ? std::min(end, *deadline) : end;
    }
    // What running out means: the overall deadline when it was the earliest.
    std::unexpected<V3Error> expired() const {
        if (deadline && *deadline <= std::min(phase_end, exchange_end))
            return v3_message(kStartTimeout);
        return v3_fail(p::ErrorKind::timed_out, kRequestDeadlineExceeded);
    }
};

std::unexpected<V3Error> write_failed() {
    return v3_fail(p::ErrorKind::other, kPipeWriteFailed);
}
std::unexpected<V3Error> frame_error() {
    return v3_fail(invalid_frame().error());
}

// Continues after partial writes; a write that reports no progress failed.
V3Status write_all(p::Os& os, const p::Handle& pipe, std::span<const uint8_t> bytes,
                   const PhaseTimers& timers) {
    while (!bytes.empty()) {
        const p::Duration left = timers.earliest() - os.clock.now();
        if (left <= p::Duration::zero()) return timers.expired();
        auto written = os.pipes.write_pipe(pipe, bytes, left);
        if (!written) {
            if (written.error().kind == p::ErrorKind::timed_out) return timers.expired();
            return write_failed();
        }
        if (*written == 0) return write_failed();
        bytes = bytes.subspan(std::min<size_t>(*written, bytes.size()));
    }
    return {};
}

// Continues after partial reads; the end of the stream or a failed read
// before the count is reached is a malformed frame.
V3Status read_exact(p::Os& os, const p::Handle& pipe, std::span<uint8_t> buffer,
                    const PhaseTimers& timers) {
    while (!buffer.empty()) {
        const p::Duration left = timers.earliest() - os.clock.now();
        if (left <= p::Duration::zero()) return timers.expired();
        auto read = os.pipes.read_pipe(pipe, buffer, left);
        if (!read) {
            if (read.error().kind == p::ErrorKind::timed_out) return timers.expired();
            return frame_error();
        }
        if (*read == 0) return frame_error();
        buffer = buffer.subspan(std::min<size_t>(*read, buffer.size()));
    }
    return {};
}

}  // namespace

V3Result<ResponseEnvelope> v3_exchange(p::Os& os, const V3Connection& connection,
                                       uint64_t request_id, const RequestOp& op,
                                       const ExchangeLimits& limits) {
    if (deadline_passed(os, limits.deadline)) return v3_message(kStartTimeout);
    const p::Instant exchange_end = os.clock.now() + limits.request_timeout;

    auto payload = encode_request_payload(request_id, op);
    if (!payload) return frame_error();
    // From here on the request may reach the service: every failure tells the
    // caller to find out what the service made of it.
    if (deadline_passed(os, limits.deadline))
        return v3_fail(p::ErrorKind::timed_out, kRequestDeadlineExceeded);

    const PhaseTimers write_timers{os.clock.now() + kWritePhase, exchange_end, limits.deadline};
    const auto prefix = encode_frame_length(static_cast<uint32_t>(payload->size()));
    if (auto ok = write_all(os, connection.pipe, prefix, write_timers); !ok)
        return std::unexpected(ok.error());
    const auto* bytes = reinterpret_cast<const uint8_t*>(payload->data());
    if (auto ok = write_all(os, connection.pipe, std::span(bytes, payload->size()), write_timers);
        !ok)
        return std::unexpected(ok.error());

    const PhaseTimers read_timers{os.clock.now() + limits.request_timeout, exchange_end,
                                  limits.deadline};
    std::array<uint8_t, kFramePrefixBytes> length_bytes{};
    if (auto ok = read_exact(os, connection.pipe, length_bytes, read_timers); !ok)
        return std::unexpected(ok.error());
    const uint32_t length = decode_frame_length(length_bytes);
    if (auto ok = check_response_length(length, limits.max_response_size); !ok)
        return v3_fail(ok.error());
    std::string response(length, '\0');
    if (auto ok =
            read_exact(os, connection.pipe,
                       std::span(reinterpret_cast<uint8_t*>(response.data()), length), read_timers);
        !ok)
        return std::unexpected(ok.error());

    auto envelope = decode_response_payload(response);
    if (!envelope) return v3_fail(envelope.error());
    return std::move(*envelope);
}

}  // namespace holvar::v3
