// Verifying a freshly started service end to end: the simulated service
// serves its pipe with its own encoder, scripted to misbehave in one way per
// row, and the verification's answer and timing are checked.
#include <gtest/gtest.h>

#include <chrono>

#include "txn/verify/verify_started_service.hpp"
#include "v3_transport/verify_host.hpp"

namespace holvar::testing {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

struct Row {
    const char* name;
    json v3;               // the service's v3 script
    const char* expected;  // "" = verified
    v3::V3ErrorType type = v3::V3ErrorType::plain;
};

json replies(json first, json second = json::object()) {
    return json{{"replies", json::array({std::move(first), std::move(second)})}};
}

// An object whose brackets nest `depth` deep in all.
std::string nested(size_t depth) {
    return "{\"a\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

json flags(size_t extra) {
    json f = json::array({"managed_schema_2", "client_lease", "tun_optional", "probe_priority",
                          "tcp_bound_controller", "stop_intent_epoch", "typed_runtime_actions"});
    for (size_t i = 0; i < extra; ++i) f.push_back("extra_" + std::to_string(i));
    return f;
}

const Row kRows[] = {
    {"well_behaved", json::object(), ""},
    {"failed_lifecycle_still_verifies", replies({}, {{"lifecycle", "failed"}}), ""},
    {"schema_1", replies({{"schema", 1}}), "verified_v3_capabilities_required",
     v3::V3ErrorType::incompatible},
    {"missing_flag", replies({{"flags", json::array({"managed_schema_2"})}}),
     "verified_v3_capabilities_required", v3::V3ErrorType::incompatible},
    {"33_flags", replies({{"flags", flags(26)}}), "invalid_v3_response"},
    {"32_flags", replies({{"flags", flags(25)}}), ""},
    {"capabilities_refused", replies({{"error", {{"code", "busy"}, {"message", "later"}}}}),
     "service_rejected:busy", v3::V3ErrorType::capability_refusal},
    {"status_refused", replies({}, {{"error", {{"code", "not_ready"}, {"message", "x"}}}}),
     "service_rejected:not_ready"},
    {"status_for_capabilities", replies({{"reply_type", "status"}}), "unexpected_v3_response"},
    {"capabilities_for_status", replies({}, {{"reply_type", "capabilities"}}),
     "unexpected_v3_response"},
    {"instance_changes", replies({}, {{"instance", "another-instance"}}),
     "service_instance_changed_reconcile_status"},
    {"restarts_between_requests", replies({{"restart_after", true}}),
     "service_instance_changed_reconcile_status"},
    {"status_token_differs", replies({}, {{"status_token_instance", "elsewhere"}}),
     "inconsistent_v3_response"},
    {"wrong_request_id", replies({{"request_id", 7}}), "invalid_v3_response"},
    {"protocol_2", replies({{"protocol", 2}}), "incompatible_v3_protocol",
     v3::V3ErrorType::incompatible},
    {"bad_instance_text", replies({{"instance", "not valid!"}}), "invalid_v3_response"},
    {"extra_envelope_key", replies({{"extra_keys", {{"extra", 1}}}}), "invalid_frame"},
    {"token_dropped", replies({{"drop_keys", json::array({"token"})}}), "invalid_frame"},
    {"envelope_as_array", replies({{"as_array", true}}, {{"as_array", true}}), ""},
    {"length_0", replies({{"length", 0}}), "invalid_frame"},
    {"length_over_limit", replies({{"length", 65537}, {"send_payload", true}}), "invalid_frame"},
    {"length_hostile", replies({{"length", 4294967295u}}), "invalid_frame"},
    {"closes_inside_prefix", replies({{"close_after_bytes", 2}}), "invalid_frame"},
    {"closes_inside_payload", replies({{"close_after_bytes", 20}}), "invalid_frame"},
    {"nested_17", replies({{"raw", nested(17)}}), "invalid_frame"},
    {"answers_after_request_timeout", replies({{"delay_ms", 2500}}),
     "request_deadline_exceeded_reconcile_status"},
    {"never_answers", replies({{"never", true}}), "request_deadline_exceeded_reconcile_status"},
    {"answers_in_time", replies({{"delay_ms", 1900}}, {{"delay_ms", 1900}}), ""},
    {"pipe_served_by_another_process", {{"served_by_other", true}}, "service_identity_rejected"},
    {"pipe_never_opens", {{"no_pipe", true}}, "verified_v3_start_timeout"},
};

class Verification : public ::testing::TestWithParam<Row> {};

TEST_P(Verification, EndsAsScripted) {
    const Row& row = GetParam();
    VerifyHost host(service_program(row.v3));
    const platform::Instant start = host.now();
    auto verified = txn::verify::verify_started_service(host.os(), kImage);
    if (std::string(row.expected).empty()) {
        EXPECT_TRUE(verified) << shown(verified.error());
    } else {
        ASSERT_FALSE(verified);
        EXPECT_EQ(shown(verified.error()), row.expected);
        EXPECT_EQ(verified.error().type, row.type);
    }
    // Whatever the outcome, everything waited for stays within the budget.
    EXPECT_LE(host.now() - start, std::chrono::nanoseconds(8s));
    // The service is left running.
    ASSERT_NE(host.service(), nullptr);
    EXPECT_EQ(host.service()->state, platform::SERVICE_RUNNING);
}

INSTANTIATE_TEST_SUITE_P(Scripts, Verification, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VerificationTiming, AServiceStartPendingForNineSecondsTimesOutAfterEightPollingEvery100ms) {
    VerifyHost host(service_program(json::object(), 9000));
    const platform::Instant start = host.now();
    auto verified = txn::verify::verify_started_service(host.os(), kImage);
    ASSERT_FALSE(verified);
    EXPECT_EQ(shown(verified.error()), "verified_v3_start_timeout");
    EXPECT_EQ(host.now() - start, std::chrono::nanoseconds(8s));
    ASSERT_GE(host.status_polls.size(), 79u);
    EXPECT_LE(host.status_polls.size(), 81u);
    for (size_t i = 1; i < host.status_polls.size(); ++i)
        EXPECT_EQ(host.status_polls[i] - host.status_polls[i - 1], std::chrono::nanoseconds(100ms));
}

TEST(VerificationTiming, APipeThatOpensAfterThreeSecondsIsWaitedFor) {
    VerifyHost host(service_program({{"pipe_after_ms", 3000}}));
    const platform::Instant start = host.now();
    auto verified = txn::verify::verify_started_service(host.os(), kImage);
    ASSERT_TRUE(verified) << shown(verified.error());
    const auto took = host.now() - start;
    EXPECT_GE(took, std::chrono::nanoseconds(3s));
    EXPECT_LT(took, std::chrono::nanoseconds(8s));
}

TEST(VerificationTiming, AnAnswerThatOutlivesTheBudgetIsATimeout) {
    // The pipe opens late enough that the status answer cannot arrive in time.
    VerifyHost host(
        service_program({{"pipe_after_ms", 6500},
                         {"replies", json::array({json::object(), {{"delay_ms", 1900}}})}}));
    const platform::Instant start = host.now();
    auto verified = txn::verify::verify_started_service(host.os(), kImage);
    ASSERT_FALSE(verified);
    EXPECT_EQ(shown(verified.error()), "verified_v3_start_timeout");
    EXPECT_EQ(host.now() - start, std::chrono::nanoseconds(8s));
}

struct StopRow {
    const char* name;
    json fail_start;
    const char* expected;
    std::optional<uint32_t> win32;
};

const StopRow kStops[] = {
    {"service_specific",
     {{"service_specific", 7}},
     "startup_service_stopped_specific:7",
     std::nullopt},
    {"win32", {{"win32", 1064}}, "startup_service_stopped_win32:1064", 1064},
};

class VerificationOfAStoppedService : public ::testing::TestWithParam<StopRow> {};

TEST_P(VerificationOfAStoppedService, NamesTheExitCode) {
    const StopRow& row = GetParam();
    json program = {{"kind", "service"}, {"fail_start", row.fail_start}};
    VerifyHost host(program.dump());
    auto verified = txn::verify::verify_started_service(host.os(), kImage);
    ASSERT_FALSE(verified);
    EXPECT_EQ(shown(verified.error()), row.expected);
    EXPECT_EQ(verified.error().win32_code(), row.win32);
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, VerificationOfAStoppedService, ::testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VerificationStart, AMissingServiceFailsWithTheStartsWin32Code) {
    txn::scm::testing::ScmHost host(service_program(json::object()));  // never installed
    auto verified = txn::verify::verify_started_service(host.os(), kImage);
    ASSERT_FALSE(verified);
    EXPECT_EQ(verified.error().win32_code(), std::optional<uint32_t>(1060));
}

}  // namespace
}  // namespace holvar::testing
