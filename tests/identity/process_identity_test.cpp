// The process and pipe-server identity checks on the simulated machine.
#include <gtest/gtest.h>

#include "managed_v3/identity/pipe_server.hpp"
#include "managed_v3/identity/process_identity.hpp"
#include "managed_v3/identity/service_process.hpp"
#include "platform/sim/names.hpp"
#include "quiesce/process_fixture.hpp"

namespace holvar::testing {
namespace {

constexpr char16_t kService[] = u"C:\\Program Files\\Holvar\\resources\\holvar-service.exe";

bool rejected(const platform::Error& e) {
    return e.kind == platform::ErrorKind::permission_denied &&
           e.text == "service_identity_rejected";
}

struct IdentityHost : ProcessHost {
    IdentityHost() {
        mkdir(u"C:\\Program Files\\Holvar\\resources");
        write_program(kService, R"({"kind":"companion","pipe":"holvar-service-v3"})");
    }
    // Registers holvar_service with the service manager as running in `pid`.
    void register_service(uint32_t pid, uint32_t type = 0x10, uint32_t state_code = 4) {
        sim::Service svc;
        svc.name = u"holvar_service";
        svc.service_type = type;
        svc.binary_path = std::u16string(u"\"") + kService + u"\"";
        svc.state = state_code;
        svc.pid = pid;
        state().scm.services[sim::fold_name(u"holvar_service")] = svc;
    }
    platform::Handle open(uint32_t pid) {
        auto h = os().processes.open_process(0x101000, false, pid);
        EXPECT_TRUE(h);
        return h ? std::move(*h) : platform::Handle{};
    }
};

class ProcessIdentity : public ::testing::Test, public IdentityHost {};

TEST_F(ProcessIdentity, TheImageOfAProcessIsVerifiedAgainstTheTrustedPath) {
    const uint32_t pid = start(kService);
    auto h = open(pid);
    auto pinned = v3::verify_process_image(os(), kService, h);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->handles.size(), 6u);  // the walk and the image
}

TEST_F(ProcessIdentity, AnotherFileOfTheSameNameIsRejected) {
    mkdir(u"C:\\Other");
    write_program(u"C:\\Other\\holvar-service.exe", R"({"kind":"companion"})");
    const uint32_t pid = start(u"C:\\Other\\holvar-service.exe");
    auto h = open(pid);
    auto pinned = v3::verify_process_image(os(), kService, h);
    ASSERT_FALSE(pinned);
    EXPECT_TRUE(rejected(pinned.error()));
    h.reset();
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(ProcessIdentity, AHardLinkedImageIsRejected) {
    const uint32_t pid = start(kService);
    ASSERT_TRUE(machine().make_hard_link(u"C:\\Program Files\\Holvar\\second.exe", kService));
    auto h = open(pid);
    EXPECT_FALSE(v3::verify_process_image(os(), kService, h));
}

TEST_F(ProcessIdentity, OnlyLocalSystemIsTheSystem) {
    struct Row {
        const char* who;
        sim::Token token;
        bool accepted;
    };
    const Row rows[] = {{"LocalSystem", sim::system_token(), true},
                        {"an administrator", sim::admin_token(), false},
                        {"a user", sim::user_token(), false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.who);
        const uint32_t pid = start(kService, row.token);
        auto h = open(pid);
        EXPECT_EQ(static_cast<bool>(v3::verify_process_is_system(os(), h)), row.accepted);
        machine().exit_process(pid, 0);
    }
    // The size query is refused when the token says nothing sensible.
    const uint32_t pid = start(kService);
    auto h = open(pid);
    machine().add_fault({std::nullopt, "get_token_information", 5, true});
    EXPECT_FALSE(v3::verify_process_is_system(os(), h));
    h.reset();
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(ProcessIdentity, OnlyALiveProcessOpens) {
    const uint32_t live = start(kService);
    const uint32_t gone = start(kService);
    machine().exit_process(gone, 0);
    EXPECT_TRUE(v3::open_live_process(os(), live));
    EXPECT_FALSE(v3::open_live_process(os(), gone));
    EXPECT_FALSE(v3::open_live_process(os(), 77777));
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(ProcessIdentity, TheServiceProcessIdComesFromTheRunningService) {
    struct Row {
        const char* what;
        uint32_t type;
        uint32_t state;
        uint32_t pid;
        bool accepted;
    };
    const uint32_t live = start(kService);
    const Row rows[] = {{"running", 0x10, 4, live, true},
                        {"start pending", 0x10, 2, live, false},
                        {"running without a process", 0x10, 4, 0, false},
                        {"a shared process", 0x20, 4, live, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        register_service(row.pid, row.type, row.state);
        auto pid = v3::service_process_id(os());
        EXPECT_EQ(static_cast<bool>(pid), row.accepted);
        if (pid) {
            EXPECT_EQ(*pid, row.pid);
        }
    }
    state().scm.services.clear();
    EXPECT_FALSE(v3::service_process_id(os()));
}

class PipeServer : public ::testing::Test, public IdentityHost {
  protected:
    platform::Handle connect(const char16_t* name = u"\\\\.\\pipe\\holvar-service-v3") {
        auto h = os().files.create_file(name, 0xC0000000, 0, platform::OPEN_EXISTING, 0);
        EXPECT_TRUE(h);
        return h ? std::move(*h) : platform::Handle{};
    }
};

TEST_F(PipeServer, TheGenuineServiceIsAccepted) {
    const uint32_t pid = start(kService);
    register_service(pid);
    auto pipe = connect();
    auto server = v3::verify_pipe_server(os(), pipe, kService);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->pid, pid);
    EXPECT_TRUE(v3::recheck_pipe_server(os(), pipe, *server));
    // The service's process ends: the re-check fails.
    machine().exit_process(pid, 0);
    EXPECT_FALSE(v3::recheck_pipe_server(os(), pipe, *server));
}

TEST_F(PipeServer, AServerThatIsNotTheServiceProcessIsRejectedEvenWithTheRightImage) {
    const uint32_t service = start(kService);
    register_service(service);
    machine().exit_process(service, 0);
    const uint32_t impostor = start(kService);  // the very file, but not the service's process
    register_service(service);
    auto pipe = connect();
    auto server = v3::verify_pipe_server(os(), pipe, kService);
    ASSERT_FALSE(server);
    EXPECT_TRUE(rejected(server.error()));
    (void)impostor;
}

TEST_F(PipeServer, AServiceRunningAsAnotherAccountIsRejected) {
    const uint32_t pid = start(kService, sim::admin_token());
    register_service(pid);
    auto pipe = connect();
    EXPECT_FALSE(v3::verify_pipe_server(os(), pipe, kService));
    pipe.reset();
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(PipeServer, LegacyEndpointsAreProbedForPresence) {
    struct Row {
        const char* what;
        const char* companion;  // the program serving an endpoint, or none
        v3::EndpointProbe expected;
    };
    const Row rows[] = {
        {"nothing served", nullptr, v3::EndpointProbe::absent},
        {"only holvar-mihomo, busy",
         R"({"kind":"companion","pipe":"holvar-mihomo","pipe_instances":0})",
         v3::EndpointProbe::present},
        {"holvar-mihomo free", R"({"kind":"companion","pipe":"holvar-mihomo"})",
         v3::EndpointProbe::present},
        {"holvar-service refusing",
         R"({"kind":"companion","pipe":"holvar-service","pipe_deny":true})",
         v3::EndpointProbe::present},
        {"another pipe only", R"({"kind":"companion","pipe":"holvar-other"})",
         v3::EndpointProbe::absent},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        IdentityHost host;
        if (row.companion) {
            host.mkdir(u"C:\\Other");
            host.write_program(u"C:\\Other\\server.exe", row.companion);
            host.start(u"C:\\Other\\server.exe");
        }
        EXPECT_EQ(v3::probe_legacy_endpoints(host.os()), row.expected);
        EXPECT_EQ(host.engine_handles(), 0u);
    }
    // An error other than 2, 5 or 231 cannot decide.
    machine().add_fault({std::nullopt, "create_file", 1450, false});
    EXPECT_EQ(v3::probe_legacy_endpoints(os()), v3::EndpointProbe::failed);
}

TEST_F(PipeServer, APipeThatOpensLaterIsServedFromThenOn) {
    mkdir(u"C:\\Other");
    write_program(u"C:\\Other\\late.exe",
                  R"({"kind":"companion","pipe":"holvar-mihomo","pipe_after_ms":2000})");
    start(u"C:\\Other\\late.exe");
    EXPECT_EQ(v3::probe_legacy_endpoints(os()), v3::EndpointProbe::absent);
    os().clock.sleep_for(std::chrono::milliseconds(1999));
    EXPECT_EQ(v3::probe_legacy_endpoints(os()), v3::EndpointProbe::absent);
    os().clock.sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(v3::probe_legacy_endpoints(os()), v3::EndpointProbe::present);
}

}  // namespace
}  // namespace holvar::testing
