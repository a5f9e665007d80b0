// The simulated service's v3 side as a client sees it: its frames parsed
// independently here, its pipe's life, and each kind of scripted misbehaviour.
#include <gtest/gtest.h>

#include <functional>

#include "pipe_host.hpp"

namespace holvar::sim::testing {
namespace {

const std::vector<std::string> kRequiredFlags = {
    "managed_schema_2",     "client_lease",      "tun_optional",         "probe_priority",
    "tcp_bound_controller", "stop_intent_epoch", "typed_runtime_actions"};

std::vector<std::string> keys_of(const ordered_json& o) {
    std::vector<std::string> keys;
    for (const auto& [k, v] : o.items()) keys.push_back(k);
    return keys;
}

class V3Service : public PipeTest {
  protected:
    std::string instance() { return "sim-" + std::to_string(service().pid); }
};

TEST_F(V3Service, CapabilitiesAndStatusAreWellFormedCompactFrames) {
    install_service();
    auto caps = request(1, "capabilities");
    ASSERT_FALSE(caps.error);
    EXPECT_EQ(caps.length, caps.payload.size());
    ordered_json c = parsed(caps);
    ASSERT_TRUE(c.is_object());
    EXPECT_EQ(c.dump(), caps.payload);  // compact: no whitespace between tokens
    EXPECT_EQ(keys_of(c), (std::vector<std::string>{"protocol", "request_id", "token", "result"}));
    EXPECT_EQ(c["protocol"], 3);
    EXPECT_EQ(c["request_id"], 1);
    EXPECT_EQ(keys_of(c["token"]),
              (std::vector<std::string>{"service_instance", "generation", "intent_epoch"}));
    EXPECT_EQ(c["token"]["service_instance"], instance());
    EXPECT_EQ(keys_of(c["result"]), (std::vector<std::string>{"type", "data"}));
    EXPECT_EQ(c["result"]["type"], "capabilities");
    const ordered_json& record = c["result"]["data"];
    EXPECT_EQ(keys_of(record),
              (std::vector<std::string>{"protocol", "schema", "flags", "build_version"}));
    EXPECT_EQ(record["protocol"], 3);
    EXPECT_EQ(record["schema"], 2);
    for (const auto& flag : kRequiredFlags)
        EXPECT_NE(std::find(record["flags"].begin(), record["flags"].end(), flag),
                  record["flags"].end())
            << flag;
    EXPECT_TRUE(record["build_version"].is_string());

    auto status = request(2, "status");
    ASSERT_FALSE(status.error);
    ordered_json st = parsed(status);
    EXPECT_EQ(st["request_id"], 2);
    EXPECT_EQ(st["result"]["type"], "status");
    const ordered_json& data = st["result"]["data"];
    EXPECT_EQ(keys_of(data),
              (std::vector<std::string>{"token", "lifecycle", "selected_node", "smart_split",
                                        "error", "lease", "stop_reason"}));
    EXPECT_EQ(data["token"], st["token"]);
    EXPECT_EQ(st["token"], c["token"]);
    EXPECT_EQ(data["lifecycle"], "ready");
}

TEST_F(V3Service, OtherRequestsAreAnsweredWithErrors) {
    install_service();
    auto other = request(5, "read_metrics");
    EXPECT_EQ(parsed(other)["result"],
              ordered_json::parse(R"({"type":"error","data":"not_ready"})"));
    auto unknown = request(6, "reboot");
    EXPECT_EQ(parsed(unknown)["result"]["data"], "invalid_frame");

    auto h = connect();
    ASSERT_TRUE(write(*h, frame_of(R"({"protocol":2,"request_id":9,"op":{"action":"status"}})")));
    auto [payload, end] = read_to_end(*h);
    ordered_json reply = ordered_json::parse(payload.substr(4));
    EXPECT_EQ(reply["request_id"], 9);
    EXPECT_EQ(reply["result"]["data"], "unsupported_protocol");
}

TEST_F(V3Service, AHostileRequestLengthClosesTheConnection) {
    install_service();
    for (std::string prefix : {std::string(4, '\0'), std::string("\xff\xff\xff\xff", 4)}) {
        auto h = connect();
        ASSERT_TRUE(h);
        ASSERT_TRUE(write(*h, prefix));
        auto [payload, end] = read_to_end(*h);
        EXPECT_EQ(payload, "");
        EXPECT_TRUE(end.is_win32(win32::broken_pipe));
    }
}

// ---- scripted replies: the frame as sent, parsed here.
struct ScriptCase {
    const char* name;
    const char* reply;   // the script of the first request
    const char* action;  // what the client asks
    std::function<void(const ordered_json& envelope, const std::string& instance)> check;
};

class ScriptedReply : public V3Service, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(ScriptedReply, TheEnvelopeIsChangedAsScripted) {
    const ScriptCase& c = GetParam();
    install_service(std::string(R"({"replies":[)") + c.reply + "]}");
    auto r = request(6, c.action);
    ASSERT_FALSE(r.error);
    EXPECT_EQ(r.length, r.payload.size());
    c.check(parsed(r), instance());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedReply,
    ::testing::Values(
        ScriptCase{"normal", "{}", "status",
                   [](const ordered_json& e, const std::string& inst) {
                       EXPECT_EQ(e["token"]["service_instance"], inst);
                       EXPECT_EQ(e["request_id"], 6);
                   }},
        ScriptCase{
            "request_id", R"({"request_id":7})", "status",
            [](const ordered_json& e, const std::string&) { EXPECT_EQ(e["request_id"], 7); }},
        ScriptCase{"protocol", R"({"protocol":2})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["protocol"], 2);
                       EXPECT_EQ(e["result"]["data"]["protocol"], 3);
                   }},
        ScriptCase{"extra_key", R"({"extra_keys":{"extra":true}})", "status",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(keys_of(e),
                                 (std::vector<std::string>{"protocol", "request_id", "token",
                                                           "result", "extra"}));
                   }},
        ScriptCase{"drop_token", R"({"drop_keys":["token"]})", "status",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(keys_of(e),
                                 (std::vector<std::string>{"protocol", "request_id", "result"}));
                   }},
        ScriptCase{"as_array", R"({"as_array":true})", "status",
                   [](const ordered_json& e, const std::string& inst) {
                       ASSERT_TRUE(e.is_array());
                       ASSERT_EQ(e.size(), 4u);
                       EXPECT_EQ(e[0], 3);
                       EXPECT_EQ(e[1], 6);
                       EXPECT_EQ(e[2]["service_instance"], inst);
                       EXPECT_EQ(e[3]["type"], "status");
                   }},
        ScriptCase{"schema_1", R"({"schema":1})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"]["data"]["schema"], 1);
                   }},
        ScriptCase{"flags_as_a_string", R"({"flags":"managed_schema_2"})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"]["data"]["flags"], "managed_schema_2");
                   }},
        ScriptCase{"build_version", R"({"build_version":"9.9"})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"]["data"]["build_version"], "9.9");
                   }},
        ScriptCase{"instance", R"({"instance":"other"})", "status",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["token"]["service_instance"], "other");
                       EXPECT_EQ(e["result"]["data"]["token"]["service_instance"], "other");
                   }},
        ScriptCase{"status_token_instance", R"({"status_token_instance":"x"})", "status",
                   [](const ordered_json& e, const std::string& inst) {
                       EXPECT_EQ(e["token"]["service_instance"], inst);
                       EXPECT_EQ(e["result"]["data"]["token"]["service_instance"], "x");
                   }},
        ScriptCase{"lifecycle", R"({"lifecycle":"failed"})", "status",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"]["data"]["lifecycle"], "failed");
                   }},
        ScriptCase{"error", R"({"error":{"code":"busy","message":"later"}})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"],
                                 ordered_json::parse(R"({"type":"error","data":"busy"})"));
                   }},
        ScriptCase{"reply_type_done", R"({"reply_type":"done"})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"], ordered_json::parse(R"({"type":"done"})"));
                   }},
        ScriptCase{"reply_type_status", R"({"reply_type":"status"})", "capabilities",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"]["type"], "status");
                       EXPECT_EQ(e["result"]["data"]["token"], e["token"]);
                   }},
        ScriptCase{"raw_nesting", R"({"raw":"[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]"})", "status",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_TRUE(e.is_array());  // seventeen levels, sent as they are
                   }},
        ScriptCase{"unknown_keys_and_bad_values", R"({"colour":"red","delay_ms":"soon"})", "status",
                   [](const ordered_json& e, const std::string&) {
                       EXPECT_EQ(e["result"]["type"], "status");
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- scripted framing and timing: what the client's reads see.
struct FramingCase {
    const char* name;
    const char* reply;
    size_t bytes_before_end;  // bytes readable before the reads end
    bool ends_broken;         // the server closes (109); else the next read times out
    int clock_after_ms;       // when the reads ended (a timeout is 2 s per read)
};

class ScriptedFraming : public V3Service, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(ScriptedFraming, TheClientReadsWhatTheScriptSends) {
    const FramingCase& c = GetParam();
    install_service(std::string(R"({"replies":[)") + c.reply + "]}");
    auto h = connect();
    ASSERT_TRUE(h);
    ASSERT_TRUE(write(*h, frame_of(request_payload(1, "status"))));
    const Instant start = machine->now();
    auto [bytes, end] = read_to_end(*h);
    EXPECT_EQ(bytes.size(), c.bytes_before_end);
    EXPECT_EQ(end.is_win32(win32::broken_pipe), c.ends_broken);
    if (!c.ends_broken) {
        EXPECT_EQ(end.kind, ErrorKind::timed_out);
    }
    EXPECT_EQ(ms_since(start), c.clock_after_ms);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedFraming,
    ::testing::Values(FramingCase{"close_after_2", R"({"close_after_bytes":2})", 2, true, 0},
                      FramingCase{"close_after_0", R"({"close_after_bytes":0})", 0, true, 0},
                      FramingCase{"length_0", R"({"length":0})", 4, false, 2000},
                      FramingCase{"length_over_limit", R"({"length":65537})", 4, false, 2000},
                      FramingCase{"length_with_payload",
                                  R"({"length":3,"send_payload":true,"raw":"abc"})", 7, false,
                                  2000},
                      FramingCase{"never", R"({"never":true})", 0, false, 2000},
                      FramingCase{"no_read", R"({"no_read":true})", 0, false, 2000},
                      FramingCase{"delay_then_close",
                                  R"({"delay_ms":1500,"raw":"{}","close_after_bytes":100})", 6,
                                  true, 1500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(V3Service, AHostileLengthPrefixIsSentAsIs) {
    install_service(R"({"replies":[{"length":4294967295}]})");
    auto h = connect();
    ASSERT_TRUE(write(*h, frame_of(request_payload(1, "status"))));
    auto [bytes, end] = read_to_end(*h, 500ms);
    EXPECT_EQ(bytes, std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(end.kind, ErrorKind::timed_out);
}

TEST_F(V3Service, ASlowReplyArrivesAfterItsDelay) {
    install_service(R"({"replies":[{"delay_ms":1500}]})");
    const Instant start = machine->now();
    auto r = request(1, "status");
    ASSERT_FALSE(r.error);
    EXPECT_EQ(parsed(r)["result"]["type"], "status");
    EXPECT_EQ(ms_since(start), 1500);
}

TEST_F(V3Service, AServiceThatDoesNotReadBlocksALargeWrite) {
    install_service(R"({"replies":[{"no_read":true}]})");
    auto h = connect();
    const Instant start = machine->now();
    auto w = write(*h, frame_of(std::string(5000, ' ') + request_payload(1, "status")));
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error().kind, ErrorKind::timed_out);
    EXPECT_EQ(ms_since(start), 2000);
}

TEST_F(V3Service, ScriptEntriesApplyToRequestsInTurn) {
    install_service(R"({"replies":[{"request_id":7},{},{"instance":"third"}]})");
    EXPECT_EQ(parsed(request(1, "capabilities"))["request_id"], 7);
    EXPECT_EQ(parsed(request(2, "status"))["request_id"], 2);
    EXPECT_EQ(parsed(request(3, "status"))["token"]["service_instance"], "third");
    EXPECT_EQ(parsed(request(4, "status"))["token"]["service_instance"], instance());
    // A connection that sends nothing is no request.
    auto idle = connect();
    idle->reset();
    EXPECT_EQ(parsed(request(5, "status"))["token"]["service_instance"], instance());
}

TEST_F(V3Service, ThePipeOpensOnlyOnceTheServiceRuns) {
    install_service(R"({"pipe_after_ms":3000})", false);
    EXPECT_EQ(service().state, SERVICE_START_PENDING);
    EXPECT_EQ(error_of(connect()), win32::file_not_found);
    machine->advance(200ms);
    EXPECT_EQ(service().state, SERVICE_RUNNING);
    machine->advance(2999ms);
    EXPECT_EQ(error_of(connect()), win32::file_not_found);
    machine->advance(1ms);
    EXPECT_FALSE(request(1, "status").error);
}

TEST_F(V3Service, NoPipeAndStoppedServicesAreAbsent) {
    install_service(R"({"no_pipe":true})");
    machine->advance(10s);
    EXPECT_EQ(error_of(connect()), win32::file_not_found);
}

TEST_F(V3Service, StoppingTheServiceClosesItsPipe) {
    install_service();
    auto h = connect();
    ASSERT_TRUE(h);
    auto scm = os().services.open_sc_manager(SC_MANAGER_CONNECT);
    auto svc = os().services.open_service(*scm, u"holvar_service", SERVICE_STOP);
    ASSERT_TRUE(os().services.control_service(*svc, SERVICE_CONTROL_STOP));
    machine->advance(100ms);
    EXPECT_EQ(service().state, SERVICE_STOPPED);
    EXPECT_TRUE(read(*h, 4).error().is_win32(win32::broken_pipe));
    EXPECT_EQ(error_of(connect()), win32::file_not_found);
}

TEST_F(V3Service, ABusyPipe) {
    install_service(R"({"pipe_instances":0})");
    EXPECT_EQ(error_of(connect()), win32::pipe_busy);
}

TEST_F(V3Service, AnotherProcessOfTheSameImageCanServeThePipe) {
    install_service(R"({"served_by_other":true})");
    auto h = connect();
    ASSERT_TRUE(h);
    auto server = os().pipes.get_named_pipe_server_process_id(*h);
    ASSERT_TRUE(server);
    EXPECT_NE(*server, service().pid);
    EXPECT_EQ(machine->state().processes.at(*server).image, kServiceImage);
    h->reset();
    auto r = request(1, "status");
    ASSERT_FALSE(r.error);
    EXPECT_EQ(parsed(r)["token"]["service_instance"], "sim-" + std::to_string(*server));
}

TEST_F(V3Service, ARestartBetweenRequestsBringsANewPidAndInstance) {
    install_service(R"({"instance":"svc-a","replies":[{"restart_after":true},{"delay_ms":10}]})");
    const uint32_t first_pid = service().pid;
    auto h = connect();
    ASSERT_TRUE(write(*h, frame_of(request_payload(1, "capabilities"))));
    auto [bytes, end] = read_to_end(*h, 100ms);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(ordered_json::parse(bytes.substr(4))["token"]["service_instance"], "svc-a");
    EXPECT_TRUE(machine->process_alive(first_pid));  // until the client lets go
    h->reset();
    EXPECT_FALSE(machine->process_alive(first_pid));
    EXPECT_NE(service().pid, first_pid);
    EXPECT_EQ(service().state, SERVICE_START_PENDING);
    EXPECT_EQ(error_of(connect()), win32::file_not_found);
    machine->advance(200ms);
    const Instant start = machine->now();
    auto second = request(2, "status");
    ASSERT_FALSE(second.error);
    EXPECT_EQ(parsed(second)["token"]["service_instance"], "svc-a-r1");
    EXPECT_EQ(ms_since(start), 10);  // the script's second entry
}

}  // namespace
}  // namespace holvar::sim::testing
