#include "managed_v3/protocol/op_encoder.hpp"

#include <type_traits>
#include <variant>

#include "managed_v3/protocol/strict_json.hpp"
#include "platform/unicode.hpp"

namespace holvar::v3 {
namespace {

// Builds one operation object. Texts that are not UTF-8 cannot travel in
// JSON; they are noted here and fail the whole encoding, instead of being
// replaced or throwing inside the serializer.
class OpWriter {
  public:
    bool valid() const { return valid_; }

    OrderedJson text(const std::string& value) {
        if (!platform::is_valid_utf8(value)) valid_ = false;
        return OrderedJson(value);
    }

    template <class E>
    static OrderedJson name(E value) {
        return OrderedJson(std::string(enum_name(value)));
    }

    OrderedJson token(const StateToken& t) {
        OrderedJson o = OrderedJson::object();
        o["service_instance"] = text(t.service_instance);
        o["generation"] = t.generation;
        o["intent_epoch"] = t.intent_epoch;
        return o;
    }

    OrderedJson lease(const LeaseExpectation& e) {
        OrderedJson o = OrderedJson::object();
        o["service_instance"] = text(e.service_instance);
        o["intent_epoch"] = e.intent_epoch;
        return o;
    }

    OrderedJson endpoint(const NodeEndpoint& e) {
        OrderedJson o = OrderedJson::object();
        o["name"] = text(e.name);
        o["server"] = text(e.server);
        o["port"] = e.port;
        return o;
    }

    void settings(OrderedJson& o, const VlessNode& n) {
        o["credential_id"] = text(n.credential_id);
        o["flow"] = name(n.flow);
        o["fingerprint"] = name(n.fingerprint);
        o["server_name"] = text(n.server_name);
        o["network"] = name(n.network);
        OrderedJson reality = OrderedJson::object();
        reality["public_key"] = text(n.reality.public_key);
        reality["short_id"] = text(n.reality.short_id);
        o["reality"] = std::move(reality);
    }

    void settings(OrderedJson& o, const VmessNode& n) {
        o["credential_id"] = text(n.credential_id);
        o["alter_id"] = n.alter_id;
        o["cipher"] = name(n.cipher);
        o["tls"] = n.tls;
        OrderedJson transport = OrderedJson::object();
        transport["type"] = name(n.transport.type);
        if (n.transport.type == Network::ws) transport["path"] = text(n.transport.path);
        o["transport"] = std::move(transport);
    }

    void settings(OrderedJson& o, const TrojanNode& n) {
        o["password"] = text(n.password);
        o["server_name"] = text(n.server_name);
    }

    void settings(OrderedJson& o, const ShadowsocksNode& n) {
        o["cipher"] = name(n.cipher);
        o["password"] = text(n.password);
    }

    void settings(OrderedJson& o, const Hysteria2Node& n) {
        o["password"] = text(n.password);
        o["server_name"] = text(n.server_name);
        o["skip_cert_verify"] = n.skip_cert_verify;
        if (n.port_ranges) {
            OrderedJson ranges = OrderedJson::array();
            for (const PortRange& r : *n.port_ranges) {
                OrderedJson range = OrderedJson::object();
                range["first"] = r.first;
                range["last"] = r.last;
                ranges.push_back(std::move(range));
            }
            o["port_ranges"] = std::move(ranges);
        } else {
            o["port_ranges"] = nullptr;
        }
        o["up_mbps"] = optional_number(n.up_mbps);
        o["down_mbps"] = optional_number(n.down_mbps);
    }

    OrderedJson node(const ManagedNode& n) {
        static constexpr std::string_view kTypes[] = {"vless", "vmess", "trojan", "ss",
                                                      "hysteria2"};
        static_assert(std::size(kTypes) == std::variant_size_v<decltype(n.settings)>);
        OrderedJson o = OrderedJson::object();
        o["type"] = std::string(kTypes[n.settings.index()]);
        o["endpoint"] = endpoint(n.endpoint);
        std::visit([&](const auto& s) { settings(o, s); }, n.settings);
        return o;
    }

    OrderedJson spec(const ManagedSpec& s) {
        OrderedJson o = OrderedJson::object();
        o["schema"] = s.schema;
        OrderedJson nodes = OrderedJson::array();
        for (const ManagedNode& n : s.nodes) nodes.push_back(node(n));
        o["nodes"] = std::move(nodes);
        o["selected_node"] = text(s.selected_node);
        o["smart_split"] = s.smart_split;
        o["tun"] = s.tun;
        return o;
    }

    // The fields that follow "action", per operation.
    void fields(OrderedJson&, const CapabilitiesOp&) {}
    void fields(OrderedJson&, const StatusOp&) {}
    void fields(OrderedJson&, const ReadNodesOp&) {}
    void fields(OrderedJson&, const ReadMetricsOp&) {}
    void fields(OrderedJson&, const CloseAllConnectionsOp&) {}

    void fields(OrderedJson& o, const ApplyManagedOp& op) {
        o["expected"] = token(op.expected);
        o["spec"] = spec(op.spec);
        o["lease_ttl_ms"] = op.lease_ttl_ms;
        o["owner_op"] = op.owner_op;
    }
    void fields(OrderedJson& o, const RenewOp& op) { o["expected"] = lease(op.expected); }
    void fields(OrderedJson& o, const StopOp& op) {
        o["expected"] = lease(op.expected);
        o["owner_op"] = op.owner_op;
    }
    void fields(OrderedJson& o, const SelectNodeOp& op) {
        o["expected"] = token(op.expected);
        o["node"] = text(op.node);
    }
    void fields(OrderedJson& o, const ProbeNodeOp& op) {
        o["expected"] = token(op.expected);
        o["node"] = text(op.node);
        o["target"] = name(op.target);
        o["timeout_ms"] = op.timeout_ms;
        o["priority"] = name(op.priority);
    }
    void fields(OrderedJson& o, const ClosePreviousNodeConnectionsOp& op) {
        o["expected"] = token(op.expected);
        o["previous_node"] = text(op.previous_node);
        o["expected_current_node"] = text(op.expected_current_node);
    }

  private:
    static OrderedJson optional_number(const std::optional<uint32_t>& value) {
        return value ? OrderedJson(*value) : OrderedJson(nullptr);
    }

    bool valid_ = true;
};

}  // namespace

platform::Result<OrderedJson> encode_op(const RequestOp& op) {
    OpWriter writer;
    OrderedJson object = OrderedJson::object();
    object["action"] = std::string(enum_name(action_of(op)));
    std::visit([&](const auto& alternative) { writer.fields(object, alternative); }, op);
    if (!writer.valid()) return invalid_frame();
    return object;
}

platform::Result<std::string> encode_op_text(const RequestOp& op) {
    platform::Result<OrderedJson> object = encode_op(op);
    if (!object) return std::unexpected(object.error());
    return compact_text(*object);
}

std::string compact_text(const OrderedJson& value) {
    // Every text was checked for UTF-8 while the value was built, so the
    // replacing handler never acts; it only keeps the serializer from throwing.
    return value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

}  // namespace holvar::v3
