// The operation objects a client sends: exact bytes, keys in protocol order.
#include <gtest/gtest.h>

#include "managed_v3/protocol/op_encoder.hpp"

namespace holvar::v3 {
namespace {

StateToken token() {
    return StateToken{"inst-1", 4, 9};
}

ManagedSpec spec_with_every_node_type() {
    ManagedSpec spec;
    spec.schema = 2;
    spec.selected_node = "a";
    spec.smart_split = true;
    spec.tun = false;
    spec.nodes.push_back({{"a", "a.example", 443},
                          VlessNode{"cred",
                                    VlessFlow::xtls_rprx_vision,
                                    TlsFingerprint::randomized,
                                    "sni",
                                    Network::grpc,
                                    {"pk", "sid"}}});
    spec.nodes.push_back(
        {{"b", "b.example", 80},
         VmessNode{"cred2", 3, VmessCipher::auto_select, true, {Network::ws, "/p"}}});
    spec.nodes.push_back(
        {{"c", "c.example", 8443},
         VmessNode{"cred3", 0, VmessCipher::chacha20_poly1305, false, {Network::h2, "/ignored"}}});
    spec.nodes.push_back({{"d", "d.example", 1}, TrojanNode{"pw", "sni"}});
    spec.nodes.push_back({{"e", "e.example", 2},
                          ShadowsocksNode{ShadowsocksCipher::blake3_chacha20_poly1305_2022, "pw"}});
    spec.nodes.push_back(
        {{"f", "f.example", 65535},
         Hysteria2Node{"pw", "sni", true, std::vector<PortRange>{{1000, 2000}}, 50, std::nullopt}});
    spec.nodes.push_back(
        {{"g", "g.example", 3}, Hysteria2Node{"pw", "", false, std::nullopt, std::nullopt, 7}});
    return spec;
}

struct OpCase {
    const char* name;
    RequestOp op;
    const char* text;
};

void PrintTo(const OpCase& c, std::ostream* os) {
    *os << c.name;
}

class OpEncoding : public testing::TestWithParam<OpCase> {};

TEST_P(OpEncoding, WritesExactBytes) {
    const OpCase& c = GetParam();
    const auto text = encode_op_text(c.op);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    AllOperations, OpEncoding,
    testing::Values(
        // The two operations the installer sends.
        OpCase{"capabilities", CapabilitiesOp{}, R"({"action":"capabilities"})"},
        OpCase{"status", StatusOp{}, R"({"action":"status"})"},
        OpCase{"read_nodes", ReadNodesOp{}, R"({"action":"read_nodes"})"},
        OpCase{"read_metrics", ReadMetricsOp{}, R"({"action":"read_metrics"})"},
        OpCase{"close_all", CloseAllConnectionsOp{}, R"({"action":"close_all_connections"})"},
        OpCase{
            "renew", RenewOp{{"inst-1", 18446744073709551615u}},
            R"({"action":"renew","expected":{"service_instance":"inst-1","intent_epoch":18446744073709551615}})"},
        OpCase{
            "stop", StopOp{{"inst-1", 2}, 77},
            R"({"action":"stop","expected":{"service_instance":"inst-1","intent_epoch":2},"owner_op":77})"},
        OpCase{
            "select_node", SelectNodeOp{token(), "n\"1"},
            R"({"action":"select_node","expected":{"service_instance":"inst-1","generation":4,"intent_epoch":9},"node":"n\"1"})"},
        OpCase{
            "probe_node",
            ProbeNodeOp{token(), "n", ProbeTarget::gstatic, 1500, ProbePriority::catalog},
            R"({"action":"probe_node","expected":{"service_instance":"inst-1","generation":4,"intent_epoch":9},"node":"n","target":"gstatic","timeout_ms":1500,"priority":"catalog"})"},
        OpCase{
            "close_previous", ClosePreviousNodeConnectionsOp{token(), "old", "new"},
            R"({"action":"close_previous_node_connections","expected":{"service_instance":"inst-1","generation":4,"intent_epoch":9},"previous_node":"old","expected_current_node":"new"})"},
        OpCase{
            "apply_managed", ApplyManagedOp{token(), spec_with_every_node_type(), 30000, 5},
            R"({"action":"apply_managed","expected":{"service_instance":"inst-1","generation":4,"intent_epoch":9},)"
            R"("spec":{"schema":2,"nodes":[)"
            R"({"type":"vless","endpoint":{"name":"a","server":"a.example","port":443},"credential_id":"cred","flow":"xtls-rprx-vision","fingerprint":"randomized","server_name":"sni","network":"grpc","reality":{"public_key":"pk","short_id":"sid"}},)"
            R"({"type":"vmess","endpoint":{"name":"b","server":"b.example","port":80},"credential_id":"cred2","alter_id":3,"cipher":"auto","tls":true,"transport":{"type":"ws","path":"/p"}},)"
            R"({"type":"vmess","endpoint":{"name":"c","server":"c.example","port":8443},"credential_id":"cred3","alter_id":0,"cipher":"chacha20-poly1305","tls":false,"transport":{"type":"h2"}},)"
            R"({"type":"trojan","endpoint":{"name":"d","server":"d.example","port":1},"password":"pw","server_name":"sni"},)"
            R"({"type":"ss","endpoint":{"name":"e","server":"e.example","port":2},"cipher":"2022-blake3-chacha20-poly1305","password":"pw"},)"
            R"({"type":"hysteria2","endpoint":{"name":"f","server":"f.example","port":65535},"password":"pw","server_name":"sni","skip_cert_verify":true,"port_ranges":[{"first":1000,"last":2000}],"up_mbps":50,"down_mbps":null},)"
            R"({"type":"hysteria2","endpoint":{"name":"g","server":"g.example","port":3},"password":"pw","server_name":"","skip_cert_verify":false,"port_ranges":null,"up_mbps":null,"down_mbps":7}],)"
            R"("selected_node":"a","smart_split":true,"tun":false},"lease_ttl_ms":30000,"owner_op":5})"}),
    [](const testing::TestParamInfo<OpCase>& info) { return std::string(info.param.name); });

TEST(OpEncoding, ValueHasActionFirst) {
    const auto value =
        encode_op(ProbeNodeOp{token(), "n", ProbeTarget::cloudflare, 1, ProbePriority::readiness});
    ASSERT_TRUE(value.has_value());
    ASSERT_TRUE(value->is_object());
    EXPECT_EQ(value->begin().key(), "action");
}

TEST(OpEncoding, NonAsciiTextTravelsAsUtf8) {
    const auto text = encode_op_text(SelectNodeOp{token(), "\xc3\xa9\xf0\x9f\x98\x80"});
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("\"node\":\"\xc3\xa9\xf0\x9f\x98\x80\""), std::string::npos);
}

// A text JSON cannot carry fails the encoding instead of being altered.
TEST(OpEncoding, RefusesTextThatIsNotUtf8) {
    for (const char* bad : {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf"}) {
        const auto text = encode_op_text(SelectNodeOp{token(), bad});
        ASSERT_FALSE(text.has_value()) << bad;
        EXPECT_EQ(text.error(),
                  platform::Error(platform::ErrorKind::invalid_data, 0, "invalid_frame"));
    }
    ManagedSpec spec;
    spec.nodes.push_back({{"a", "s", 1}, TrojanNode{"pw\xfe", "sni"}});
    EXPECT_FALSE(encode_op_text(ApplyManagedOp{token(), spec, 1, 1}).has_value());
}

TEST(OpEncoding, ActionNamesFollowTheVariant) {
    EXPECT_EQ(action_of(RequestOp{CapabilitiesOp{}}), Action::capabilities);
    EXPECT_EQ(action_of(RequestOp{ProbeNodeOp{}}), Action::probe_node);
    EXPECT_EQ(action_of(RequestOp{ClosePreviousNodeConnectionsOp{}}),
              Action::close_previous_node_connections);
}

}  // namespace
}  // namespace holvar::v3
