// The managed configuration that "apply_managed" hands to the service. The
// installer never builds one; the client encodes it for completeness of the
// protocol. Credentials are opaque strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "managed_v3/protocol/enums.hpp"

namespace holvar::v3 {

struct NodeEndpoint {
    std::string name;
    std::string server;
    uint16_t port = 0;
};

struct RealityParams {
    std::string public_key;
    std::string short_id;
};

struct VlessNode {
    std::string credential_id;
    VlessFlow flow = VlessFlow::none;
    TlsFingerprint fingerprint = TlsFingerprint::chrome;
    std::string server_name;
    Network network = Network::tcp;
    RealityParams reality;
};

// "path" is written only for the "ws" network.
struct VmessTransport {
    Network type = Network::tcp;
    std::string path;
};

struct VmessNode {
    std::string credential_id;
    uint16_t alter_id = 0;
    VmessCipher cipher = VmessCipher::auto_select;
    bool tls = false;
    VmessTransport transport;
};

struct TrojanNode {
    std::string password;
    std::string server_name;
};

struct ShadowsocksNode {
    ShadowsocksCipher cipher = ShadowsocksCipher::aes_128_gcm;
    std::string password;
};

struct PortRange {
    uint16_t first = 0;
    uint16_t last = 0;
};

struct Hysteria2Node {
    std::string password;
    std::string server_name;
    bool skip_cert_verify = false;
    std::optional<std::vector<PortRange>> port_ranges;
    std::optional<uint32_t> up_mbps;
    std::optional<uint32_t> down_mbps;
};

// Written as one object tagged by "type", then "endpoint", then the fields of
// its type.
struct ManagedNode {
    NodeEndpoint endpoint;
    std::variant<VlessNode, VmessNode, TrojanNode, ShadowsocksNode, Hysteria2Node> settings;
};

struct ManagedSpec {
    uint16_t schema = 2;
    std::vector<ManagedNode> nodes;
    std::string selected_node;
    bool smart_split = false;
    bool tun = false;
};

}  // namespace holvar::v3
