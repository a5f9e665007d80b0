// The operations a v3 client can request. The installer sends only
// "capabilities" and "status"; the others are here so that the client speaks
// the whole protocol.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "managed_v3/protocol/managed_spec.hpp"
#include "managed_v3/protocol/records.hpp"

namespace holvar::v3 {

struct CapabilitiesOp {};
struct StatusOp {};
struct ApplyManagedOp {
    StateToken expected;
    ManagedSpec spec;
    uint32_t lease_ttl_ms = 0;
    uint64_t owner_op = 0;
};
struct RenewOp {
    LeaseExpectation expected;
};
struct StopOp {
    LeaseExpectation expected;
    uint64_t owner_op = 0;
};
struct ReadNodesOp {};
struct SelectNodeOp {
    StateToken expected;
    std::string node;
};
struct ProbeNodeOp {
    StateToken expected;
    std::string node;
    ProbeTarget target = ProbeTarget::cloudflare;
    uint32_t timeout_ms = 0;
    ProbePriority priority = ProbePriority::readiness;
};
struct ReadMetricsOp {};
struct CloseAllConnectionsOp {};
struct ClosePreviousNodeConnectionsOp {
    StateToken expected;
    std::string previous_node;
    std::string expected_current_node;
};

// The alternatives are in the order of Action below.
using RequestOp = std::variant<CapabilitiesOp, StatusOp, ApplyManagedOp, RenewOp, StopOp,
                               ReadNodesOp, SelectNodeOp, ProbeNodeOp, ReadMetricsOp,
                               CloseAllConnectionsOp, ClosePreviousNodeConnectionsOp>;

// The value of "action".
enum class Action : uint8_t {
    capabilities,
    status,
    apply_managed,
    renew,
    stop,
    read_nodes,
    select_node,
    probe_node,
    read_metrics,
    close_all_connections,
    close_previous_node_connections,
};
template <>
struct EnumNames<Action> {
    static constexpr std::array<std::string_view, 11> names = {"capabilities",
                                                               "status",
                                                               "apply_managed",
                                                               "renew",
                                                               "stop",
                                                               "read_nodes",
                                                               "select_node",
                                                               "probe_node",
                                                               "read_metrics",
                                                               "close_all_connections",
                                                               "close_previous_node_connections"};
};

inline Action action_of(const RequestOp& op) {
    return static_cast<Action>(op.index());
}

}  // namespace holvar::v3
