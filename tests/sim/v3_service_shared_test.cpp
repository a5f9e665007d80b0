// The service side shared by the simulated service and the real one built for
// Windows: how a request frame is read, and a real executable that runs on the
// simulated machine by the behaviour file beside it, as it does on Windows.
#include <gtest/gtest.h>

#include "pipe_host.hpp"
#include "v3_service/reply_script.hpp"

namespace holvar::sim::testing {
namespace {

using v3_service::FrameState;

std::vector<uint8_t> raw(std::initializer_list<int> b) {
    std::vector<uint8_t> out;
    for (int x : b) out.push_back(static_cast<uint8_t>(x));
    return out;
}

TEST(V3ServiceFrames, StateAndPayloadOfWhatHasArrived) {
    struct Row {
        const char* name;
        std::vector<uint8_t> received;
        FrameState state;
        std::string payload;
    };
    const Row rows[] = {
        {"nothing yet", {}, FrameState::incomplete, ""},
        {"part of the prefix", raw({2, 0, 0}), FrameState::incomplete, ""},
        {"a length of 0", raw({0, 0, 0, 0}), FrameState::refused, ""},
        {"8 MiB is accepted", raw({0, 0, 0x80, 0}), FrameState::incomplete, ""},
        {"beyond 8 MiB", raw({1, 0, 0x80, 0}), FrameState::refused, ""},
        {"a length beyond 4 GiB's half", raw({0, 0, 0, 0x80}), FrameState::refused, ""},
        {"part of the payload", raw({2, 0, 0, 0, 'a'}), FrameState::incomplete, ""},
        {"the whole frame", raw({2, 0, 0, 0, 'a', 'b'}), FrameState::complete, "ab"},
        {"bytes after the frame are not its", raw({1, 0, 0, 0, 'a', 'b'}), FrameState::complete,
         "a"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(v3_service::frame_state(r.received), r.state) << r.name;
        EXPECT_EQ(v3_service::frame_payload(r.received), r.payload) << r.name;
    }
}

TEST(V3ServiceFrames, ScriptedFramesCutAndDelayed) {
    const std::string request = R"({"protocol":3,"request_id":4,"op":{"action":"status"}})";
    struct Row {
        const char* name;
        const char* script;
        bool never;
        size_t frame_bytes;  // 0: the whole frame, prefix included
        bool close;
        uint64_t delay_ms;
    };
    const Row rows[] = {
        {"a normal reply", "{}", false, 0, false, 0},
        {"never answered", R"({"never":true})", true, 0, false, 0},
        {"late", R"({"delay_ms":3000})", false, 0, false, 3000},
        {"cut after 6 bytes", R"({"close_after_bytes":6})", false, 6, true, 0},
        {"only a prefix of 9", R"({"length":9})", false, 4, false, 0},
    };
    for (const Row& r : rows) {
        const auto reply = v3_service::reply_to(request, "svc-a", nlohmann::json::parse(r.script));
        EXPECT_EQ(reply.never, r.never) << r.name;
        EXPECT_EQ(reply.close, r.close) << r.name;
        EXPECT_EQ(reply.delay_ms, r.delay_ms) << r.name;
        if (r.never) continue;
        if (r.frame_bytes != 0) {
            EXPECT_EQ(reply.frame.size(), r.frame_bytes) << r.name;
            continue;
        }
        ASSERT_EQ(v3_service::frame_state(reply.frame), FrameState::complete) << r.name;
        const auto body = ordered_json::parse(v3_service::frame_payload(reply.frame));
        EXPECT_EQ(body["request_id"], 4) << r.name;
        EXPECT_EQ(body["token"]["service_instance"], "svc-a") << r.name;
        EXPECT_EQ(body["result"]["type"], "status") << r.name;
    }
}

// The real holvar-service.exe is no simulated program: it runs by the
// description in the behaviour file beside it, the file it reads on Windows.
class RealImageService : public PipeTest {
  protected:
    void fresh_machine() {
        engine.reset();
        machine = Machine::fresh();
        engine_pid = machine->spawn_process(u"C:\\stage\\engine.exe", admin_token(),
                                            u"C:\\Windows\\System32");
        engine = std::make_unique<ProcessOs>(*machine, engine_pid);
    }
    void install(const std::vector<uint8_t>& image, const std::optional<std::string>& behaviour) {
        const Sid admins = administrators_sid();
        ASSERT_TRUE(machine->make_directory(u"C:\\Program Files\\Holvar", admins));
        ASSERT_TRUE(machine->make_directory(u"C:\\Program Files\\Holvar\\resources", admins));
        ASSERT_TRUE(machine->write_file(kServiceImage, image, admins));
        if (behaviour) {
            ASSERT_TRUE(machine->write_file(
                u"C:\\Program Files\\Holvar\\resources\\holvar-service.behaviour.json",
                bytes(*behaviour), admins));
        }
        auto scm = os().services.open_sc_manager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        ASSERT_TRUE(scm);
        auto svc = os().services.create_service(*scm, u"holvar_service", u"Holvar Service",
                                                SERVICE_START | SERVICE_QUERY_STATUS, 0x10, 3, 1,
                                                u"\"" + std::u16string(kServiceImage) + u"\"",
                                                std::u16string(2, u'\0'), u"LocalSystem");
        ASSERT_TRUE(svc);
        (void)os().services.start_service(*svc);
        machine->advance(300ms);
    }
};

TEST_F(RealImageService, RunsByTheBehaviourFileBesideIt) {
    struct Row {
        const char* name;
        std::vector<uint8_t> image;
        std::optional<std::string> behaviour;
        bool running;
        const char* instance;  // of its replies, when it runs
    };
    const auto pe = bytes(std::string("MZ\x90\0\3\0\0\0", 8) + std::string(4096, '\0'));
    const Row rows[] = {
        {"a real image and its behaviour file", pe,
         R"({"kind":"service","start_pending_ms":200,"v3":{"instance":"real"}})", true, "real"},
        {"a real image alone is no program", pe, std::nullopt, false, ""},
        {"a simulated program's own description wins",
         program_image(R"({"kind":"service","start_pending_ms":200,"v3":{"instance":"own"}})"),
         R"({"kind":"service","v3":{"instance":"beside"}})", true, "own"},
    };
    for (const Row& r : rows) {
        fresh_machine();
        install(r.image, r.behaviour);
        EXPECT_EQ(service().state == SERVICE_RUNNING, r.running) << r.name;
        if (r.running) {
            auto caps = request(1, "capabilities");
            ASSERT_FALSE(caps.error) << r.name;
            EXPECT_EQ(parsed(caps)["token"]["service_instance"], r.instance) << r.name;
        }
    }
}

}  // namespace
}  // namespace holvar::sim::testing
