// The records that v3 replies carry, field for field in wire order.
//
// Optional values are std::optional: absent on the wire may be written as
// JSON null or left out, and both decode to nullopt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "managed_v3/protocol/enums.hpp"
#include "managed_v3/protocol/service_error.hpp"

namespace holvar::v3 {

// The service's state token, carried by every response envelope.
struct StateToken {
    std::string service_instance;
    uint64_t generation = 0;
    uint64_t intent_epoch = 0;
    friend bool operator==(const StateToken&, const StateToken&) = default;
};

// What "renew" and "stop" expect of the lease holder's service.
struct LeaseExpectation {
    std::string service_instance;
    uint64_t intent_epoch = 0;
    friend bool operator==(const LeaseExpectation&, const LeaseExpectation&) = default;
};

struct Capabilities {
    uint16_t protocol = 0;
    uint16_t schema = 0;
    std::vector<std::string> flags;
    std::string build_version;
    friend bool operator==(const Capabilities&, const Capabilities&) = default;
};

struct LeaseStatus {
    uint32_t remaining_ms = 0;
    friend bool operator==(const LeaseStatus&, const LeaseStatus&) = default;
};

struct Status {
    StateToken token;
    LifecycleState lifecycle = LifecycleState::stopped;
    std::optional<std::string> selected_node;
    std::optional<bool> smart_split;
    std::optional<ServiceErrorCode> error;
    std::optional<LeaseStatus> lease;
    std::optional<StopReason> stop_reason;
    friend bool operator==(const Status&, const Status&) = default;
};

struct ApplyResult {
    ApplyOutcome outcome = ApplyOutcome::ready;
    Status status;
    std::optional<ServiceErrorCode> error;
    friend bool operator==(const ApplyResult&, const ApplyResult&) = default;
};

// The records below answer operations the installer never sends; their
// field types are this client's reading of the service's replies.
struct NodeView {
    std::string name;
    std::string kind;
    std::optional<uint32_t> delay_ms;
    std::optional<uint64_t> measured_at_secs;
    friend bool operator==(const NodeView&, const NodeView&) = default;
};

struct GroupView {
    std::string name;
    std::vector<std::string> members;
    std::optional<std::string> selected;
    friend bool operator==(const GroupView&, const GroupView&) = default;
};

struct NodesView {
    std::vector<NodeView> nodes;
    std::vector<GroupView> groups;
    std::optional<std::string> selected_node;
    friend bool operator==(const NodesView&, const NodesView&) = default;
};

struct ProbeResult {
    std::optional<uint32_t> delay_ms;  // null: the probe got no answer
    friend bool operator==(const ProbeResult&, const ProbeResult&) = default;
};

struct Metrics {
    uint64_t up = 0;      // bytes sent
    uint64_t down = 0;    // bytes received
    uint64_t memory = 0;  // bytes in use by the core
    bool sampling = false;
    friend bool operator==(const Metrics&, const Metrics&) = default;
};

}  // namespace holvar::v3
