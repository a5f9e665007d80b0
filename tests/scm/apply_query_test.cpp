// Writing and reading the service's configuration on a simulated machine.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "scm/scm_host.hpp"
#include "txn/scm/scm_text.hpp"

namespace holvar::txn::scm::testing {
namespace {

TEST(ScmApply, CreatesTheServiceWithThePathQuotedOnce) {
    // Trailing backslashes on the root still give one backslash before "resources".
    for (std::u16string root : {std::u16string(kRoot), std::u16string(kRoot) + u"\\",
                                std::u16string(kRoot) + u"\\\\\\"}) {
        ScmHost host;
        ASSERT_EQ(host.service(), nullptr);
        host.install(desired_scm_config(root));
        sim::Service* svc = host.service();
        ASSERT_NE(svc, nullptr);
        EXPECT_EQ(svc->binary_path, u"\"" + std::u16string(kImage) + u"\"");
        EXPECT_EQ(host.count("create_service"), 1);
        auto q = scm_query(host.os());
        ASSERT_TRUE(q);
        ASSERT_TRUE(*q);
        EXPECT_EQ((*q)->config, desired_scm_config(kRoot));
        EXPECT_EQ((*q)->state, ServiceRunState::stopped);
        EXPECT_TRUE(host.state().scm.handles.empty()) << "every handle is closed";
    }
}

TEST(ScmApply, RewritesDependenciesAndDescription) {
    ScmHost host;
    ScmConfig old = desired_scm_config(kRoot);
    old.dependencies = {u"RpcSs", u"+NetworkProvider"};
    old.description = u"an older version";
    old.start_type = "demand";
    host.install(old);
    auto q = scm_query(host.os());
    ASSERT_TRUE(q && *q);
    EXPECT_EQ((*q)->config, old) << "group entries keep their +";

    ScmConfig now = desired_scm_config(kRoot);
    now.description.reset();
    host.install(now);
    EXPECT_EQ(host.count("create_service"), 1) << "the existing service is reconfigured";
    EXPECT_TRUE(host.service()->dependencies.empty());
    EXPECT_TRUE(host.service()->description.empty());
    q = scm_query(host.os());
    ASSERT_TRUE(q && *q);
    EXPECT_EQ((*q)->config, now);
    EXPECT_EQ((*q)->config.description, std::nullopt);
}

TEST(ScmApply, BadConfigurationsAreRefusedBeforeAnyCall) {
    struct Case {
        const char* what;
        void (*change)(ScmConfig&);
        std::string_view text;
    };
    const Case cases[] = {
        {"capitalised start type", [](ScmConfig& c) { c.start_type = "Auto"; }, "start type"},
        {"unknown error control", [](ScmConfig& c) { c.error_control = "fatal"; }, "error control"},
        {"shared process", [](ScmConfig& c) { c.service_type = "share_process"; },
         "unsupported service type"},
        {"NUL in the image path", [](ScmConfig& c) { c.binary_path.insert(3, 1, u'\0'); },
         "embedded NUL"},
        {"NUL in the account", [](ScmConfig& c) { c.account.push_back(u'\0'); }, "embedded NUL"},
        {"NUL in the display name", [](ScmConfig& c) { c.display_name.insert(0, 1, u'\0'); },
         "embedded NUL"},
        {"NUL in a dependency",
         [](ScmConfig& c) {
             c.dependencies = {u"RpcSs", std::u16string(u"a\0b", 3)};
         },
         "embedded NUL"},
        {"NUL in the description", [](ScmConfig& c) { c.description = std::u16string(u"x\0y", 3); },
         "embedded NUL"},
    };
    for (const Case& c : cases) {
        ScmHost host;
        ScmConfig config = desired_scm_config(kRoot);
        c.change(config);
        uint64_t before = host.machine->boundary_calls();
        auto st = scm_apply(host.os(), config);
        ASSERT_FALSE(st) << c.what;
        EXPECT_TRUE(st.error().has_text(c.text)) << c.what;
        EXPECT_EQ(host.machine->boundary_calls(), before) << c.what;
        EXPECT_EQ(host.service(), nullptr) << c.what;
    }
}

TEST(ScmApply, AnUnprivilegedEngineCannotCreateTheService) {
    ScmHost host(R"({"kind":"service"})", sim::user_token());
    auto st = scm_apply(host.os(), desired_scm_config(kRoot));
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().is_win32(platform::win32::access_denied));
    EXPECT_EQ(host.service(), nullptr);
}

TEST(ScmQuery, TextsReadFromTheServiceManagerAreChecked) {
    const std::u16string lone(1, static_cast<char16_t>(0xDA00));
    struct Case {
        const char* what;
        std::function<void(sim::Service&)> change;
        std::string_view text;
    };
    const Case cases[] = {
        {"image path", [&](sim::Service& s) { s.binary_path += lone; }, "non-Unicode SCM value"},
        {"display name", [&](sim::Service& s) { s.display_name = lone; }, "non-Unicode SCM value"},
        {"account", [&](sim::Service& s) { s.account = lone; }, "non-Unicode SCM value"},
        {"dependency",
         [&](sim::Service& s) {
             s.dependencies = {u"RpcSs", lone};
         },
         "non-Unicode SCM value"},
        {"description", [&](sim::Service& s) { s.description = u"v3 " + lone; },
         "invalid SCM description"},
        {"no account", [](sim::Service& s) { s.account.reset(); }, "missing service account"},
        {"kernel driver", [](sim::Service& s) { s.service_type = 1; }, "unsupported service type"},
        {"start type", [](sim::Service& s) { s.start_type = 5; }, "start type"},
        {"error control", [](sim::Service& s) { s.error_control = 9; }, "error control"},
        {"status", [](sim::Service& s) { s.state = 8; }, "service status"},
    };
    for (const Case& c : cases) {
        ScmHost host;
        host.install();
        c.change(*host.service());
        auto q = scm_query(host.os());
        ASSERT_FALSE(q) << c.what;
        EXPECT_TRUE(q.error().has_text(c.text)) << c.what;
        EXPECT_TRUE(host.state().scm.handles.empty()) << c.what;
    }
}

TEST(ScmQuery, AnEmptyDescriptionReadsAsNull) {
    ScmHost host;
    ScmConfig config = desired_scm_config(kRoot);
    config.description = u"";
    host.install(config);
    auto q = scm_query(host.os());
    ASSERT_TRUE(q && *q);
    EXPECT_EQ((*q)->config.description, std::nullopt);
}

TEST(ScmQuery, AbsentServiceAndSnapshots) {
    ScmHost host;
    auto q = scm_query(host.os());
    ASSERT_TRUE(q);
    EXPECT_FALSE(*q);
    auto snap = scm_snapshot(host.os());
    ASSERT_TRUE(snap);
    EXPECT_EQ(*snap, ScmSnapshot{});

    host.install();
    snap = scm_snapshot(host.os());
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->config, desired_scm_config(kRoot));
    EXPECT_FALSE(snap->running);

    ASSERT_TRUE(scm_start(host.os()));
    snap = scm_snapshot(host.os());
    ASSERT_FALSE(snap) << "a service still starting is never journalled";
    EXPECT_TRUE(snap.error().has_text("service state is changing"));

    ASSERT_TRUE(scm_wait_running(host.os(), std::chrono::seconds(30)));
    snap = scm_snapshot(host.os());
    ASSERT_TRUE(snap);
    EXPECT_TRUE(snap->running);
}

// A rollback takes its snapshot right after a failed verification, when the
// service may still be starting: the settled snapshot waits that out, polling
// at most every 100 ms, and gives up at its timeout.
TEST(ScmQuery, SettledSnapshotsWaitOutAChangingState) {
    using namespace std::chrono_literals;
    auto start = [](ScmHost& h) { ASSERT_TRUE(scm_start(h.os())); };
    auto stop_control = [](ScmHost& h) {
        h.install_running();
        auto manager = h.os().services.open_sc_manager(platform::SC_MANAGER_CONNECT);
        ASSERT_TRUE(manager);
        auto service =
            h.os().services.open_service(*manager, u"holvar_service", platform::SERVICE_STOP);
        ASSERT_TRUE(service);
        ASSERT_TRUE(h.os().services.control_service(*service, platform::SERVICE_CONTROL_STOP));
    };
    struct Case {
        const char* what;
        std::string program;
        std::function<void(ScmHost&)> arrange;
        std::chrono::milliseconds timeout;
        std::optional<bool> running;  // none = still changing at the timeout
        std::chrono::milliseconds waited;
    };
    const Case cases[] = {
        {"start pending, then running", R"({"kind":"service","start_pending_ms":1500})", start, 30s,
         true, 1500ms},
        {"start pending beyond the timeout", R"({"kind":"service","start_pending_ms":5000})", start,
         2s, std::nullopt, 2s},
        {"stop pending, then stopped", R"({"kind":"service","stop_ms":700})", stop_control, 30s,
         false, 700ms},
        {"stopped: no wait", R"({"kind":"service"})", [](ScmHost&) {}, 30s, false, 0ms},
        {"zero timeout while starting", R"({"kind":"service","start_pending_ms":1500})", start, 0ms,
         std::nullopt, 0ms},
    };
    for (const Case& c : cases) {
        ScmHost host(c.program);
        host.install();
        c.arrange(host);
        host.status_polls.clear();
        const auto t0 = host.machine->now();
        auto snap = scm_snapshot_settled(host.os(), c.timeout);
        const auto waited = host.machine->now() - t0;
        EXPECT_GE(waited, c.waited) << c.what;
        EXPECT_LE(waited, c.waited + 100ms) << c.what;
        for (size_t i = 1; i < host.status_polls.size(); ++i)
            EXPECT_LE(host.status_polls[i] - host.status_polls[i - 1], 100ms) << c.what;
        EXPECT_TRUE(host.state().scm.handles.empty()) << c.what;
        if (!c.running) {
            ASSERT_FALSE(snap) << c.what;
            EXPECT_TRUE(snap.error().has_text("service state is changing")) << c.what;
            EXPECT_EQ(waited, c.timeout) << c.what << ": gives up exactly at the timeout";
            continue;
        }
        ASSERT_TRUE(snap) << c.what;
        EXPECT_EQ(snap->config, desired_scm_config(kRoot)) << c.what;
        EXPECT_EQ(snap->running, *c.running) << c.what;
    }
    ScmHost absent;
    auto none = scm_snapshot_settled(absent.os(), 30s);
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, ScmSnapshot{});
}

TEST(ScmText, CommandLineQuoting) {
    struct Case {
        std::u16string in;
        std::u16string out;
    };
    const Case cases[] = {
        {u"C:\\a\\b.exe", u"C:\\a\\b.exe"},
        {u"C:\\Program Files\\b.exe", u"\"C:\\Program Files\\b.exe\""},
        {u"C:\\dir with space\\", u"\"C:\\dir with space\\\\\""},
        {u"a\"b", u"\"a\\\"b\""},
        {u"a\\\"b", u"\"a\\\\\\\"b\""},
        {u"\"C:\\x y\\s.exe\"", u"\"\\\"C:\\x y\\s.exe\\\"\""},
        {u"tab\there", u"\"tab\there\""},
    };
    for (const Case& c : cases) EXPECT_EQ(quote_command_line_argument(c.in), c.out);
    EXPECT_EQ(dependency_multi_string({}), std::u16string(2, u'\0'));
    EXPECT_EQ(dependency_multi_string({u"a", u"+g"}), std::u16string(u"a\0+g\0\0", 6));
}

}  // namespace
}  // namespace holvar::txn::scm::testing
