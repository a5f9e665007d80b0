#include "managed_v3/transport/v3_client.hpp"

#include <limits>

#include "managed_v3/transport/blocking_step.hpp"
#include "managed_v3/transport/v3_connection.hpp"
#include "managed_v3/transport/v3_exchange.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;

std::optional<uint64_t> V3Client::take_request_id() {
    uint64_t id = next_request_id_.load();
    do {
        if (id == std::numeric_limits<uint64_t>::max()) return std::nullopt;
    } while (!next_request_id_.compare_exchange_weak(id, id + 1));
    return id;
}

V3Result<ResponseEnvelope> v3_request(p::Os& os, V3Client& client, const V3Request& request) {
    const std::optional<p::Instant> deadline = request.overall_deadline;
    if (deadline_passed(os, deadline)) return v3_message(kStartTimeout);
    const std::optional<uint64_t> id = client.take_request_id();
    if (!id) return v3_message(kRequestIdExhausted);
    const bool probe_node = action_of(request.operation) == Action::probe_node;

    auto connection = v3_connect(os, client.expected_image(), deadline, probe_node);
    if (!connection) return std::unexpected(connection.error());

    const ExchangeLimits limits{request.request_timeout, deadline, request.max_response_size};
    auto envelope = v3_exchange(os, **connection, *id, request.operation, limits);
    if (!envelope) return envelope;

    if (auto checked = recheck_connection(os, *connection, deadline); !checked)
        return std::unexpected(checked.error());
    // A probe may outlast the deadline; for everything else an answer that
    // comes too late counts for nothing.
    if (!probe_node && deadline_passed(os, deadline)) return v3_message(kStartTimeout);

    if (auto valid = validate_response_envelope(*envelope, *id); !valid) {
        if (valid.error().has_text(kIncompatibleV3Protocol))
            return incompatible_error(kIncompatibleV3Protocol);
        return v3_fail(valid.error());
    }
    return envelope;
}

}  // namespace holvar::v3
