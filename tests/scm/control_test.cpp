// Starting, stopping, deleting and restoring the service on a simulated
// machine, and the identity gate that keeps the stop away from anything that
// is not this installation's service.
#include <gtest/gtest.h>

#include "platform/sim/sim_processes.hpp"
#include "scm/scm_host.hpp"

namespace holvar::txn::scm::testing {
namespace {

using namespace std::chrono_literals;

TEST(ScmStart, StartsWaitsAndToleratesARunningService) {
    ScmHost host(R"({"kind":"service","start_pending_ms":1500})");
    host.install();
    const auto t0 = host.machine->now();
    ASSERT_TRUE(scm_start(host.os()));
    EXPECT_EQ(host.service()->state, platform::SERVICE_START_PENDING);
    ASSERT_TRUE(scm_wait_running(host.os(), 30s));
    EXPECT_GE(host.machine->now() - t0, 1500ms);
    EXPECT_LE(host.machine->now() - t0, 1600ms);
    EXPECT_TRUE(scm_start(host.os())) << "already running counts as started";
    // Once running it keeps its folders under the root.
    EXPECT_TRUE(host.machine->exists(std::u16string(kRoot) + u"\\.holvar-service-v3"));
    EXPECT_TRUE(host.machine->exists(std::u16string(kRoot) + u"\\service-logs"));
    EXPECT_TRUE(host.state().scm.handles.empty());
}

TEST(ScmStart, AServiceThatStopsAtOnceTimesOutTheWait) {
    for (const char* failure : {R"({"win32":1064})", R"({"service_specific":7})"}) {
        ScmHost host(std::string(R"({"kind":"service","fail_start":)") + failure + "}");
        host.install();
        const auto t0 = host.machine->now();
        ASSERT_TRUE(scm_start(host.os()));
        auto st = scm_wait_running(host.os(), 30s);
        ASSERT_FALSE(st);
        EXPECT_TRUE(st.error().has_text("service start timeout"));
        EXPECT_EQ(st.error().kind, platform::ErrorKind::timed_out);
        EXPECT_EQ(host.machine->now() - t0, 30s);
        EXPECT_EQ(host.service()->state, platform::SERVICE_STOPPED);
        EXPECT_EQ(host.service()->win32_exit_code, failure[2] == 'w' ? 1064u : 1066u);
    }
}

TEST(ScmStart, DisabledAndAbsentServices) {
    ScmHost host;
    auto absent = scm_disable(host.os());
    ASSERT_FALSE(absent);
    EXPECT_TRUE(absent.error().is_win32(platform::win32::service_does_not_exist));
    host.install();
    ASSERT_TRUE(scm_disable(host.os()));
    EXPECT_EQ(host.service()->start_type, platform::SERVICE_DISABLED);
    EXPECT_EQ(host.service()->binary_path, desired_scm_config(kRoot).binary_path)
        << "nothing else changes";
    auto st = scm_start(host.os());
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().is_win32(1058));
}

TEST(ScmStop, StopsTheVerifiedService) {
    ScmHost host(R"({"kind":"service","stop_ms":700})");
    host.install_running();
    uint32_t service_pid = host.service()->pid;
    ASSERT_TRUE(scm_stop(host.os(), 30s));
    EXPECT_EQ(host.count("control_service"), 1);
    EXPECT_EQ(host.service()->state, platform::SERVICE_STOPPED);
    EXPECT_FALSE(host.alive(service_pid));
    EXPECT_TRUE(host.state().scm.handles.empty());
    // Stopped already: no control, success after the final check.
    host.calls.clear();
    ASSERT_TRUE(scm_stop(host.os(), 30s));
    EXPECT_EQ(host.count("control_service"), 0);
}

TEST(ScmStop, AnAbsentServiceIs1060) {
    ScmHost host;
    auto st = scm_stop(host.os(), 30s);
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().is_win32(platform::win32::service_does_not_exist));
}

TEST(ScmStop, AServiceThatIgnoresTheStopTimesOut) {
    ScmHost host(R"({"kind":"service","ignore_stop":true})");
    host.install_running();
    const auto t0 = host.machine->now();
    auto st = scm_stop(host.os(), 30s);
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().has_text("service stop timeout"));
    EXPECT_EQ(host.machine->now() - t0, 30s);
    ASSERT_GE(host.status_polls.size(), 300u);
    for (size_t i = 1; i < host.status_polls.size(); ++i)
        EXPECT_LE(host.status_polls[i] - host.status_polls[i - 1], 100ms);
    EXPECT_EQ(host.service()->state, platform::SERVICE_RUNNING);
    EXPECT_TRUE(host.alive(host.service()->pid));
}

// Whatever the trick, the stop control is never sent and the service runs on.
TEST(ScmStop, NeverStopsAForeignService) {
    const std::u16string resources = std::u16string(kRoot) + u"\\resources";
    struct Case {
        const char* what;
        std::string program;
        std::function<void(ScmHost&, ScmConfig&)> arrange;
        std::string_view text;
    };
    const Case cases[] = {
        {"image path names another executable", R"({"kind":"service"})",
         [&](ScmHost& h, ScmConfig& c) {
             std::u16string other = resources + u"\\other.exe";
             ASSERT_TRUE(h.machine->write_file(other, program(R"({"kind":"service"})"),
                                               sim::administrators_sid()));
             c.binary_path = u"\"" + other + u"\"";
         },
         "unsafe_installation"},
        {"image directly under a drive root", R"({"kind":"service"})",
         [](ScmHost& h, ScmConfig& c) {
             ASSERT_TRUE(h.machine->write_file(u"C:\\holvar-service.exe",
                                               program(R"({"kind":"service"})"),
                                               sim::administrators_sid()));
             c.binary_path = u"\"C:\\holvar-service.exe\"";
         },
         "unsafe_installation"},
        {"process running under another account", R"({"kind":"service","account":"user"})",
         [](ScmHost&, ScmConfig&) {}, "service_identity_rejected"},
        {"configured for another account", R"({"kind":"service","account":"system"})",
         [](ScmHost&, ScmConfig& c) { c.account = u"NT AUTHORITY\\LocalService"; },
         "service_identity_rejected"},
        {"image hard-linked to a second name", R"({"kind":"service"})",
         [&](ScmHost& h, ScmConfig&) {
             ASSERT_TRUE(h.machine->make_hard_link(resources + u"\\copy.exe", kImage));
         },
         "service_identity_rejected"},
        {"folder writable by users", R"({"kind":"service"})",
         [&](ScmHost& h, ScmConfig&) {
             platform::Acl dacl;
             for (auto [mask, who] : {std::pair{0x1301bfu, sim::users_sid()},
                                      std::pair{0x1f01ffu, sim::system_sid()}}) {
                 platform::Ace ace;
                 ace.mask = mask;
                 ace.sid = who;
                 ace.size = static_cast<uint16_t>(8 + who.bytes.size());
                 dacl.aces.push_back(ace);
             }
             ASSERT_TRUE(h.machine->set_dacl(resources, dacl, true));
         },
         "service_identity_rejected"},
    };
    for (const Case& c : cases) {
        ScmHost host(c.program);
        // The engine itself never configures an image it cannot trust: the
        // trick is played on a running service, its configuration changed
        // behind the engine's back.
        host.install_running();
        ScmConfig config = desired_scm_config(kRoot);
        c.arrange(host, config);
        host.service()->binary_path = config.binary_path;
        host.service()->account = config.account;
        const uint32_t service_pid = host.service()->pid;
        auto st = scm_stop(host.os(), 30s);
        ASSERT_FALSE(st) << c.what;
        EXPECT_TRUE(st.error().has_text(c.text)) << c.what;
        EXPECT_EQ(host.count("control_service"), 0) << c.what;
        EXPECT_EQ(host.service()->state, platform::SERVICE_RUNNING) << c.what;
        EXPECT_TRUE(host.alive(service_pid)) << c.what;
        EXPECT_TRUE(host.state().scm.handles.empty()) << c.what;
    }
}

TEST(ScmStop, AProcessReplacedAfterTheGateIsNotStopped) {
    ScmHost host;
    host.install_running();
    uint32_t replacement = 0;
    int opens = 0;
    // The third service open is the stop's own, after the query and the gate.
    host.before_call = [&](sim::Machine::State& s, std::string_view call) {
        if (call != "open_service" || ++opens != 3) return;
        sim::Service& svc = s.scm.services.at(u"HOLVAR_SERVICE");
        sim::end_process(s, svc.pid, 0);
        sim::StartSpec spec;
        spec.image = kImage;
        spec.token = sim::system_token();
        spec.current_directory = u"C:\\Windows\\System32";
        spec.plain_image_exits = false;
        replacement = *sim::start_process(s, spec);
        svc.pid = replacement;
        svc.state = platform::SERVICE_RUNNING;
    };
    auto st = scm_stop(host.os(), 30s);
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().has_text("service_identity_rejected"));
    EXPECT_EQ(host.count("control_service"), 0);
    EXPECT_EQ(host.service()->pid, replacement);
    EXPECT_TRUE(host.alive(replacement));
}

// The gate proves a process; a stopped service has none. A rollback rerun
// after a crash may already have moved the image away, and the stop must
// still succeed then, while any service with a process stays behind the gate.
TEST(ScmStop, TheGateGuardsOnlyAServiceWithAProcess) {
    const std::u16string resources = std::u16string(kRoot) + u"\\resources";
    auto missing = [](ScmHost& h) { ASSERT_TRUE(h.machine->remove(kImage)); };
    auto linked = [&](ScmHost& h) {
        ASSERT_TRUE(h.machine->make_hard_link(resources + u"\\copy.exe", kImage));
    };
    // Between the query and the fresh status, something starts the service
    // from its (hard-linked) image.
    auto starts_after_query = [&](ScmHost& h) {
        linked(h);
        int opens = 0;
        h.before_call = [&h, opens](sim::Machine::State& s, std::string_view call) mutable {
            if (call != "open_service" || ++opens != 2) return;
            sim::StartSpec spec;
            spec.image = kImage;
            spec.token = sim::system_token();
            spec.current_directory = u"C:\\Windows\\System32";
            spec.plain_image_exits = false;
            sim::Service& svc = s.scm.services.at(u"HOLVAR_SERVICE");
            svc.pid = *sim::start_process(s, spec);
            svc.state = platform::SERVICE_RUNNING;
        };
    };
    struct Case {
        const char* what;
        bool running;
        std::function<void(ScmHost&)> arrange;
        bool stops;
    };
    const Case cases[] = {
        {"stopped, image missing", false, missing, true},
        {"stopped, image with a second name", false, linked, true},
        {"running, image missing", true, missing, false},
        {"running, image with a second name", true, linked, false},
        {"started after the query, image with a second name", false, starts_after_query, false},
    };
    for (const Case& c : cases) {
        ScmHost host;
        if (c.running)
            host.install_running();
        else
            host.install();
        c.arrange(host);
        host.calls.clear();
        auto st = scm_stop(host.os(), 30s);
        EXPECT_EQ(host.count("control_service"), 0) << c.what;
        EXPECT_TRUE(host.state().scm.handles.empty()) << c.what;
        if (c.stops) {
            EXPECT_TRUE(st) << c.what;
            EXPECT_EQ(host.service()->state, platform::SERVICE_STOPPED) << c.what;
            continue;
        }
        ASSERT_FALSE(st) << c.what;
        EXPECT_TRUE(st.error().has_text("service_identity_rejected")) << c.what;
        EXPECT_EQ(host.service()->state, platform::SERVICE_RUNNING) << c.what;
        EXPECT_TRUE(host.alive(host.service()->pid)) << c.what;
    }
}

TEST(ScmDelete, DeletedOrPendingWhileHeldOpen) {
    ScmHost host;
    auto none = scm_delete(host.os());
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, DeleteResult::deleted);

    host.install();
    auto gone = scm_delete(host.os());
    ASSERT_TRUE(gone);
    EXPECT_EQ(*gone, DeleteResult::deleted);
    EXPECT_EQ(host.service(), nullptr);

    host.install();
    sim::ProcessOs other(*host.machine,
                         host.machine->spawn_process(u"C:\\Windows\\mmc.exe", sim::admin_token()));
    auto manager = other.os().services.open_sc_manager(platform::SC_MANAGER_CONNECT);
    ASSERT_TRUE(manager);
    auto held = other.os().services.open_service(*manager, u"holvar_service",
                                                 platform::SERVICE_QUERY_STATUS);
    ASSERT_TRUE(held);
    auto pending = scm_delete(host.os());
    ASSERT_TRUE(pending);
    EXPECT_EQ(*pending, DeleteResult::delete_pending);
    EXPECT_EQ(*scm_delete(host.os()), DeleteResult::delete_pending);
    auto restore = scm_restore(host.os(), std::nullopt, false);
    ASSERT_FALSE(restore);
    EXPECT_TRUE(restore.error().is_win32(platform::win32::service_marked_for_delete));
    auto create = scm_apply(host.os(), desired_scm_config(kRoot));
    ASSERT_FALSE(create) << "a service marked for delete cannot be reconfigured";
    EXPECT_TRUE(create.error().is_win32(platform::win32::service_marked_for_delete));
    held->reset();
    EXPECT_EQ(host.service(), nullptr) << "the last handle takes the service with it";
}

// Windows starts no disabled service: one an administrator disabled while it
// ran is started while it may be, then disabled again.
TEST(ScmRestore, BringsBackTheConfigurationAndTheRunningService) {
    for (const char* start_type : {"auto", "disabled"}) {
        SCOPED_TRACE(start_type);
        ScmHost host;
        ScmConfig before = desired_scm_config(kRoot);
        before.start_type = start_type;
        before.description = u"as it was";
        before.dependencies = {u"RpcSs"};
        host.install();
        ASSERT_TRUE(scm_restore(host.os(), before, true));
        auto q = scm_query(host.os());
        ASSERT_TRUE(q && *q);
        EXPECT_EQ((*q)->config, before);
        EXPECT_EQ((*q)->state, ServiceRunState::running);
        // A service that was absent before goes again (after it is stopped).
        ASSERT_TRUE(scm_stop(host.os(), 30s));
        ASSERT_TRUE(scm_restore(host.os(), std::nullopt, false));
        EXPECT_EQ(host.service(), nullptr);
    }
}

}  // namespace
}  // namespace holvar::txn::scm::testing
