// Single requests on the service's pipe: the open's retries and bounds, the
// request ids, the deadline, and what a hostile length prefix may cost.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "managed_v3/transport/v3_client.hpp"
#include "v3_transport/allocation_watch.hpp"
#include "v3_transport/verify_host.hpp"

namespace holvar::v3 {
struct V3ClientTestAccess {
    static void set_next(V3Client& c, uint64_t v) { c.next_request_id_ = v; }
};
}  // namespace holvar::v3

namespace holvar::testing {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

struct RunningService : VerifyHost {
    explicit RunningService(const json& v3) : VerifyHost(service_program(v3)) {
        EXPECT_TRUE(txn::scm::scm_start(os()));
        EXPECT_TRUE(txn::scm::scm_wait_running(os(), std::chrono::seconds(30)));
    }
    v3::V3Result<v3::ResponseEnvelope> request(v3::V3Client& client, v3::RequestOp op,
                                               std::optional<platform::Instant> deadline = {}) {
        v3::V3Request r;
        r.operation = std::move(op);
        r.overall_deadline = deadline;
        return v3::v3_request(os(), client, r);
    }
};

TEST(V3Request, RequestIdsRunOneTwoThree) {
    RunningService host(json::object());
    v3::V3Client client{kImage};
    for (uint64_t id = 1; id <= 3; ++id) {
        auto answer = host.request(client, v3::StatusOp{});
        ASSERT_TRUE(answer) << answer.error().display();
        EXPECT_EQ(answer->request_id, id);
    }
}

TEST(V3Request, TheLastIdIsNeverHandedOut) {
    RunningService host(json::object());
    v3::V3Client client{kImage};
    v3::V3ClientTestAccess::set_next(client, std::numeric_limits<uint64_t>::max() - 1);
    auto last = host.request(client, v3::StatusOp{});
    ASSERT_TRUE(last) << last.error().display();
    EXPECT_EQ(last->request_id, std::numeric_limits<uint64_t>::max() - 1);
    auto exhausted = host.request(client, v3::StatusOp{});
    ASSERT_FALSE(exhausted);
    EXPECT_EQ(exhausted.error().display(), "request_id_exhausted");
}

TEST(V3Request, AnAbsentPipeIsRetriedEvery50msForTwoSeconds) {
    RunningService host(json{{"no_pipe", true}});
    v3::V3Client client{kImage};
    const platform::Instant start = host.now();
    auto answer = host.request(client, v3::CapabilitiesOp{});
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().type, v3::V3ErrorType::pipe_connect);
    EXPECT_TRUE(answer.error().error.is_win32(platform::win32::file_not_found));
    EXPECT_EQ(answer.error().win32_code(), std::optional<uint32_t>(2));
    // 40 opens, 39 pauses of 50 ms between them: the last one that still
    // fits in the two-second window.
    EXPECT_EQ(host.now() - start, std::chrono::nanoseconds(1950ms));
}

TEST(V3Request, AnOverallDeadlineShortensTheConnectWindow) {
    RunningService host(json{{"no_pipe", true}});
    v3::V3Client client{kImage};
    const platform::Instant start = host.now();
    auto answer = host.request(client, v3::CapabilitiesOp{}, start + 500ms);
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().type, v3::V3ErrorType::pipe_connect);
    EXPECT_LE(host.now() - start, std::chrono::nanoseconds(500ms));
}

TEST(V3Request, ADeadlineAlreadyPassedSendsNothing) {
    RunningService host(json::object());
    v3::V3Client client{kImage};
    auto answer = host.request(client, v3::CapabilitiesOp{}, host.now());
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().display(), "verified_v3_start_timeout");
    // The id was not consumed: the next request still gets 1.
    auto next = host.request(client, v3::StatusOp{});
    ASSERT_TRUE(next) << next.error().display();
    EXPECT_EQ(next->request_id, 1u);
}

TEST(V3Request, AHostileLengthPrefixAllocatesNothing) {
    RunningService host(json{{"replies", json::array({{{"length", 4294967295u}}})}});
    v3::V3Client client{kImage};
    start_allocation_watch();
    auto answer = host.request(client, v3::CapabilitiesOp{});
    const size_t largest = stop_allocation_watch();
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().display(), "invalid_frame");
    EXPECT_LT(largest, size_t{1} << 20);
}

TEST(V3Request, AWriteTheServiceNeverReadsTimesOutInTheWritePhase) {
    RunningService host(json{{"replies", json::array({{{"no_read", true}}})}});
    v3::V3Client client{kImage};
    // A node name long enough that the frame outgrows what the pipe buffers.
    v3::SelectNodeOp op;
    op.expected.service_instance = "x";
    op.node = std::string(20000, 'n');
    const platform::Instant start = host.now();
    auto answer = host.request(client, op);
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().display(), "request_deadline_exceeded_reconcile_status");
    EXPECT_EQ(answer.error().error.kind, platform::ErrorKind::timed_out);
    EXPECT_EQ(host.now() - start, std::chrono::nanoseconds(2s));
}

TEST(V3Request, ABusyPipeIsAConnectErrorWithItsCode) {
    RunningService host(json{{"no_pipe", true}});
    // Another process holds the only instance of a pipe by that name.
    host.machine->write_file(
        u"C:\\Program Files\\Holvar\\squatter.exe",
        txn::scm::testing::program(
            R"({"kind":"companion","pipe":"holvar-service-v3","pipe_instances":0})"),
        sim::administrators_sid());
    host.machine->spawn_process(u"C:\\Program Files\\Holvar\\squatter.exe", sim::system_token());
    v3::V3Client client{kImage};
    auto answer = host.request(client, v3::CapabilitiesOp{});
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().type, v3::V3ErrorType::pipe_connect);
    EXPECT_TRUE(answer.error().error.is_win32(platform::win32::pipe_busy));
}

struct StallRow {
    const char* name;
    const char* call;
    std::chrono::milliseconds stall;
    std::optional<std::chrono::milliseconds> deadline;
    const char* expected;  // "" = answered
    std::chrono::milliseconds took;
};

const StallRow kStalls[] = {
    // The identity check of the pipe's server hangs: given up after 5 s.
    {"open_hangs", "open_process", 6000ms, std::nullopt, "pipe_open_unverified", 5000ms},
    {"open_hangs_past_deadline", "open_process", 6000ms, 3000ms, "verified_v3_start_timeout",
     3000ms},
    // Slow but within its bound: the request goes on.
    {"open_is_slow", "open_process", 4000ms, std::nullopt, "", 4000ms},
    // The first server-PID query belongs to the open; a hung one is the same.
    {"server_pid_hangs", "get_named_pipe_server_process_id", 5001ms, std::nullopt,
     "pipe_open_unverified", 5000ms},
};

class BlockingSteps : public ::testing::TestWithParam<StallRow> {};

TEST_P(BlockingSteps, AreBoundedByFiveSecondsAndTheDeadline) {
    const StallRow& row = GetParam();
    RunningService host(json::object());
    host.machine->add_stall(sim::StallRule{row.call, row.stall, true});
    v3::V3Client client{kImage};
    const platform::Instant start = host.now();
    std::optional<platform::Instant> deadline;
    if (row.deadline) deadline = start + *row.deadline;
    auto answer = host.request(client, v3::StatusOp{}, deadline);
    if (std::string(row.expected).empty()) {
        EXPECT_TRUE(answer) << answer.error().display();
    } else {
        ASSERT_FALSE(answer);
        EXPECT_EQ(answer.error().display(), row.expected);
    }
    EXPECT_EQ(host.now() - start, std::chrono::nanoseconds(row.took));
}

INSTANTIATE_TEST_SUITE_P(Stalls, BlockingSteps, ::testing::ValuesIn(kStalls),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::testing
