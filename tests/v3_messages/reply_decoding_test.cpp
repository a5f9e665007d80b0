// Replies as the service writes them: kinds, records, "error" replies, and the
// breakages that must invalidate the frame.
#include <gtest/gtest.h>

#include "managed_v3/protocol/reply_decoder.hpp"

namespace holvar::v3 {
namespace {

const platform::Error kInvalidFrameError{platform::ErrorKind::invalid_data, 0, "invalid_frame"};

platform::Result<Reply> reply_from(std::string_view text) {
    const auto json = parse_strict(text, 16);
    if (!json) return std::unexpected(json.error());
    return decode_reply(*json);
}

constexpr const char* kToken = R"({"service_instance":"svc-7","generation":3,"intent_epoch":1})";

std::string status_text(std::string_view lifecycle) {
    return std::string(R"({"token":)") + kToken + R"(,"lifecycle":")" + std::string(lifecycle) +
           R"("})";
}

TEST(ReplyDecoding, DoneWithOnlyTypeHasNoRecord) {
    const auto reply = reply_from(R"({"type":"done"})");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->kind, ReplyKind::done);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(reply->data));
}

TEST(ReplyDecoding, ErrorBusyBecomesServiceRejectedBusy) {
    const auto reply = reply_from(R"({"type":"error","data":"busy"})");
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->kind, ReplyKind::error);
    ASSERT_NE(reply->get<ServiceErrorCode>(), nullptr);
    const ServiceErrorCode code = *reply->get<ServiceErrorCode>();
    EXPECT_EQ(code, ServiceErrorCode::busy);
    EXPECT_EQ(service_rejected(code).text, "service_rejected:busy");
    const CapabilityRefusal refusal{code};
    EXPECT_EQ(refusal.error().text, "service_rejected:busy");
}

TEST(ReplyDecoding, CapabilitiesRecord) {
    const auto reply = reply_from(
        R"({"type":"capabilities","data":{"protocol":3,"schema":2,"flags":["client_lease","x"],"build_version":"1.2.3"}})");
    ASSERT_TRUE(reply.has_value());
    ASSERT_NE(reply->get<Capabilities>(), nullptr);
    EXPECT_EQ(*reply->get<Capabilities>(), (Capabilities{3, 2, {"client_lease", "x"}, "1.2.3"}));
}

TEST(ReplyDecoding, StatusWithEveryOptionalField) {
    const auto reply =
        reply_from(std::string(R"({"type":"status","data":{"token":)") + kToken +
                   R"(,"lifecycle":"failed","selected_node":"n","smart_split":false,)"
                   R"("error":"core_failed","lease":{"remaining_ms":4294967295},)"
                   R"("stop_reason":"lease_expired"}})");
    ASSERT_TRUE(reply.has_value());
    const Status* status = reply->get<Status>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(*status, (Status{{"svc-7", 3, 1},
                               LifecycleState::failed,
                               "n",
                               false,
                               ServiceErrorCode::core_failed,
                               LeaseStatus{4294967295u},
                               StopReason::lease_expired}));
}

TEST(ReplyDecoding, DataMayPrecedeType) {
    const auto reply = reply_from(R"({"data":"not_ready","type":"error"})");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply->get<ServiceErrorCode>(), ServiceErrorCode::not_ready);
}

// Every lifecycle state decodes, including "failed", which still completes a
// verification.
TEST(ReplyDecoding, EveryLifecycleState) {
    for (const std::string_view name : EnumNames<LifecycleState>::names) {
        const auto reply = reply_from(R"({"type":"status","data":)" + status_text(name) + "}");
        ASSERT_TRUE(reply.has_value()) << name;
        EXPECT_EQ(enum_name(reply->get<Status>()->lifecycle), name);
    }
}

TEST(ReplyDecoding, OtherKinds) {
    const auto apply = reply_from(
        std::string(R"({"type":"apply","data":{"outcome":"restored_previous","status":)") +
        status_text("ready") + R"(,"error":null}})");
    ASSERT_TRUE(apply.has_value());
    EXPECT_EQ(apply->get<ApplyResult>()->outcome, ApplyOutcome::restored_previous);
    EXPECT_EQ(apply->get<ApplyResult>()->status.lifecycle, LifecycleState::ready);

    const auto nodes = reply_from(
        R"({"type":"nodes","data":{"nodes":[{"name":"a","kind":"vless","delay_ms":12,"measured_at_secs":1700000000},)"
        R"({"name":"b","kind":"ss","delay_ms":null,"measured_at_secs":null}],)"
        R"("groups":[{"name":"auto","members":["a","b"],"selected":"a"}],"selected_node":null}})");
    ASSERT_TRUE(nodes.has_value());
    ASSERT_EQ(nodes->get<NodesView>()->nodes.size(), 2u);
    EXPECT_EQ(nodes->get<NodesView>()->nodes[0].delay_ms, 12u);
    EXPECT_EQ(nodes->get<NodesView>()->groups[0].members, (std::vector<std::string>{"a", "b"}));

    const auto probe = reply_from(R"({"type":"probe","data":{"delay_ms":null}})");
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->kind, ReplyKind::probe);
    EXPECT_FALSE(probe->get<ProbeResult>()->delay_ms.has_value());

    const auto metrics =
        reply_from(R"({"type":"metrics","data":{"up":1,"down":2,"memory":3,"sampling":true}})");
    ASSERT_TRUE(metrics.has_value());
    EXPECT_EQ(*metrics->get<Metrics>(), (Metrics{1, 2, 3, true}));
}

// Each text is one reply broken in one way; each must invalidate the frame.
struct BrokenReply {
    const char* why;
    std::string text;
};

void PrintTo(const BrokenReply& c, std::ostream* os) {
    *os << c.why;
}

class BrokenReplies : public testing::TestWithParam<BrokenReply> {};

TEST_P(BrokenReplies, AreInvalidFrames) {
    const auto reply = reply_from(GetParam().text);
    ASSERT_FALSE(reply.has_value()) << GetParam().why;
    EXPECT_EQ(reply.error(), kInvalidFrameError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenReplies,
    testing::Values(
        BrokenReply{
            "flags is a string",
            R"({"type":"capabilities","data":{"protocol":3,"schema":2,"flags":"managed_schema_2","build_version":"1"}})"},
        BrokenReply{"lifecycle outside the list",
                    R"({"type":"status","data":)" + status_text("paused") + "}"},
        BrokenReply{"lifecycle in another case",
                    R"({"type":"status","data":)" + status_text("Ready") + "}"},
        BrokenReply{"unlisted reply kind", R"({"type":"pong","data":{}})"},
        BrokenReply{"kind is not a string", R"({"type":3,"data":{}})"},
        BrokenReply{"no type", R"({"data":"busy"})"},
        BrokenReply{"status without data", R"({"type":"status"})"},
        BrokenReply{"error without data", R"({"type":"error"})"},
        BrokenReply{"error code outside the list", R"({"type":"error","data":"exploded"})"},
        BrokenReply{"error code not a string", R"({"type":"error","data":5})"},
        BrokenReply{"done with a record", R"({"type":"done","data":{}})"},
        BrokenReply{"done with a false", R"({"type":"done","data":false})"},
        BrokenReply{"extra reply key", R"({"type":"done","extra":null})"},
        BrokenReply{"repeated type", R"({"type":"done","type":"done"})"},
        BrokenReply{"reply is an array", R"(["done"])"}, BrokenReply{"reply is null", "null"},
        BrokenReply{"record of another kind", R"({"type":"metrics","data":{"remaining_ms":1}})"},
        BrokenReply{
            "status token with an extra key",
            R"({"type":"status","data":{"token":{"service_instance":"a","generation":1,"intent_epoch":1,"x":1},"lifecycle":"ready"}})"},
        BrokenReply{
            "status token missing a field",
            R"({"type":"status","data":{"token":{"service_instance":"a","generation":1},"lifecycle":"ready"}})"},
        BrokenReply{"lease with an extra key",
                    R"({"type":"status","data":{"token":)" + std::string(kToken) +
                        R"(,"lifecycle":"ready","lease":{"remaining_ms":1,"x":2}}})"},
        BrokenReply{
            "nested node with a wrong type",
            R"({"type":"nodes","data":{"nodes":[{"name":"a","kind":"k","delay_ms":"1","measured_at_secs":null}],"groups":[],"selected_node":null}})"},
        BrokenReply{
            "group member not a string",
            R"({"type":"nodes","data":{"nodes":[],"groups":[{"name":"g","members":[1],"selected":null}],"selected_node":null}})"},
        BrokenReply{
            "flag not a string",
            R"({"type":"capabilities","data":{"protocol":3,"schema":2,"flags":["a",null],"build_version":"1"}})"}),
    [](const testing::TestParamInfo<BrokenReply>& info) {
        return "case" + std::to_string(info.index);
    });

// The 23 error codes, in declaration order, each with its rejection text.
TEST(ServiceErrors, EveryCodeDecodesAndRejectsWithItsText) {
    constexpr const char* kCodes[] = {"invalid_managed_spec",
                                      "unsupported_managed_transport",
                                      "unsupported_protocol",
                                      "unsupported_schema",
                                      "invalid_frame",
                                      "busy",
                                      "instance_conflict",
                                      "generation_conflict",
                                      "intent_conflict",
                                      "not_ready",
                                      "invalid_node",
                                      "identity_rejected",
                                      "lease_expired",
                                      "not_lease_owner",
                                      "client_identity_rejected",
                                      "unsafe_storage",
                                      "resource_mismatch",
                                      "core_failed",
                                      "controller_failed",
                                      "cancelled",
                                      "deadline_exceeded",
                                      "internal",
                                      "stale_operation"};
    ASSERT_EQ(std::size(kCodes), EnumNames<ServiceErrorCode>::names.size());
    for (std::size_t i = 0; i < std::size(kCodes); ++i) {
        const auto reply =
            reply_from(std::string(R"({"type":"error","data":")") + kCodes[i] + "\"}");
        ASSERT_TRUE(reply.has_value()) << kCodes[i];
        const ServiceErrorCode code = *reply->get<ServiceErrorCode>();
        EXPECT_EQ(static_cast<std::size_t>(code), i);
        EXPECT_EQ(service_rejected(code).text, std::string("service_rejected:") + kCodes[i]);
        EXPECT_EQ(service_rejected(code).kind, platform::ErrorKind::other);
    }
}

TEST(StateTokenDecoding, DecodesAndRefusesBreakage) {
    const auto good = parse_strict(kToken, 16);
    ASSERT_TRUE(good.has_value());
    const auto token = decode_state_token(*good);
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(*token, (StateToken{"svc-7", 3, 1}));

    for (const char* bad :
         {R"({"service_instance":"a","generation":1})",
          R"({"service_instance":null,"generation":1,"intent_epoch":1})",
          R"({"service_instance":"a","generation":-1,"intent_epoch":1})",
          R"({"service_instance":"a","generation":1,"intent_epoch":1.0})", R"(["a",1,1])"}) {
        const auto json = parse_strict(bad, 16);
        ASSERT_TRUE(json.has_value()) << bad;
        EXPECT_EQ(decode_state_token(*json).error(), kInvalidFrameError) << bad;
    }
}

}  // namespace
}  // namespace holvar::v3
