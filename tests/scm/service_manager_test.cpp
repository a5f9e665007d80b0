// The simulated service manager itself: the rights a handle carries, the
// errors Windows gives, and the services surviving a save and load.
#include <gtest/gtest.h>

#include "platform/sim/program_service.hpp"
#include "scm/scm_host.hpp"

namespace holvar::txn::scm::testing {
namespace {

using platform::Handle;

TEST(ServiceManager, HandlesCarryOnlyTheRightsAskedFor) {
    ScmHost host;
    host.install();
    auto& services = host.os().services;
    auto manager = services.open_sc_manager(platform::SC_MANAGER_CONNECT);
    ASSERT_TRUE(manager);
    auto status_only =
        services.open_service(*manager, u"HOLVAR_SERVICE", platform::SERVICE_QUERY_STATUS);
    ASSERT_TRUE(status_only) << "names are case-insensitive";
    auto denied = [](const platform::Status& st) {
        return !st && st.error().is_win32(platform::win32::access_denied);
    };
    EXPECT_TRUE(denied(services.start_service(*status_only)));
    EXPECT_TRUE(denied(services.control_service(*status_only, platform::SERVICE_CONTROL_STOP)));
    EXPECT_TRUE(denied(services.delete_service(*status_only)));
    EXPECT_TRUE(denied(services.change_service_description(*status_only, nullptr)));
    auto config = services.query_service_config(*status_only, 8192);
    ASSERT_FALSE(config);
    EXPECT_TRUE(config.error().is_win32(platform::win32::access_denied));
    EXPECT_TRUE(services.query_service_status(*status_only));
    // A manager handle opened to connect cannot create.
    auto create = services.create_service(*manager, u"other", u"Other", 0, 0x10, 3, 1, u"C:\\x.exe",
                                          std::u16string(2, u'\0'), u"LocalSystem");
    ASSERT_FALSE(create);
    EXPECT_TRUE(create.error().is_win32(platform::win32::access_denied));
    // A service handle is not a manager handle.
    auto wrong = services.open_service(*status_only, u"holvar_service", 0x4);
    ASSERT_FALSE(wrong);
    EXPECT_TRUE(wrong.error().is_win32(platform::win32::invalid_handle));
}

TEST(ServiceManager, SizesAndStatesAsWindowsReportsThem) {
    ScmHost host;
    host.install();
    auto& services = host.os().services;
    auto manager = services.open_sc_manager(platform::SC_MANAGER_CONNECT);
    auto h = services.open_service(*manager, u"holvar_service", 0x5 | platform::SERVICE_STOP);
    ASSERT_TRUE(h);
    auto sized = services.query_service_config(*h, 0);
    ASSERT_TRUE(sized);
    EXPECT_FALSE(sized->config);
    EXPECT_GE(sized->bytes_needed, 64u);
    auto exact = services.query_service_config(*h, sized->bytes_needed);
    ASSERT_TRUE(exact && exact->config);
    auto short_by_one = services.query_service_config(*h, sized->bytes_needed - 1);
    ASSERT_TRUE(short_by_one);
    EXPECT_FALSE(short_by_one->config);
    auto stop = services.control_service(*h, platform::SERVICE_CONTROL_STOP);
    ASSERT_FALSE(stop);
    EXPECT_TRUE(stop.error().is_win32(platform::win32::service_not_active));
    auto status = services.query_service_status(*h);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->service_type, 0x10u);
    EXPECT_EQ(status->current_state, platform::SERVICE_STOPPED);
    EXPECT_EQ(status->process_id, 0u);
    EXPECT_EQ(status->win32_exit_code, 1077u) << "never started";
    auto again =
        services.create_service(*services.open_sc_manager(platform::SC_MANAGER_CONNECT |
                                                          platform::SC_MANAGER_CREATE_SERVICE),
                                u"holvar_service", u"x", 0, 0x10, 3, 1, u"C:\\x.exe",
                                std::u16string(2, u'\0'), u"LocalSystem");
    ASSERT_FALSE(again);
    EXPECT_TRUE(again.error().is_win32(platform::win32::service_exists));
}

TEST(ServiceManager, AnImageWithoutAServiceProgramTimesOutItsStart) {
    ScmHost host;
    host.install();
    ASSERT_TRUE(host.machine->write_file(kImage, {'M', 'Z'}, sim::administrators_sid()));
    const auto t0 = host.machine->now();
    auto st = scm_start(host.os());
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().is_win32(1053));
    EXPECT_EQ(host.machine->now() - t0, std::chrono::seconds(30));
    EXPECT_EQ(host.service()->state, platform::SERVICE_STOPPED);
}

TEST(ServiceManager, ServicesSurviveSaveAndLoad) {
    ScmHost host;
    ScmConfig config = desired_scm_config(kRoot);
    config.dependencies = {u"RpcSs", u"+Group"};
    host.install(config);
    // Saved twice, the same bytes: the database has one written form.
    const std::string saved = host.machine->to_json();
    auto loaded = sim::Machine::from_json(saved);
    ASSERT_TRUE(loaded);
    EXPECT_EQ((*loaded)->to_json(), saved);
    ASSERT_TRUE(loaded);
    sim::ProcessOs engine(**loaded, (*loaded)->spawn_process(u"C:\\e.exe", sim::admin_token()));
    auto q = scm_query(engine.os());
    ASSERT_TRUE(q && *q);
    EXPECT_EQ((*q)->config, config);
}

TEST(ServiceManager, APowerCutStopsTheService) {
    ScmHost host;
    host.install_running();
    host.machine->crash();
    sim::ProcessOs engine(*host.machine,
                          host.machine->spawn_process(u"C:\\e.exe", sim::admin_token()));
    auto q = scm_query(engine.os());
    ASSERT_TRUE(q && *q);
    EXPECT_EQ((*q)->state, ServiceRunState::stopped);
    EXPECT_EQ(host.service()->pid, 0u);
    // Back up, the automatic service starts again.
    sim::start_automatic_services(host.state());
    ASSERT_TRUE(scm_wait_running(engine.os(), std::chrono::seconds(30)));
}

TEST(ServiceManager, ARebootStartsTheAutomaticServiceAgain) {
    ScmHost host;
    host.install_running();
    host.machine->reboot();
    sim::ProcessOs engine(*host.machine,
                          host.machine->spawn_process(u"C:\\e.exe", sim::admin_token()));
    // The service manager started it during boot, as a new process.
    ASSERT_TRUE(scm_wait_running(engine.os(), std::chrono::seconds(30)));
    EXPECT_NE(host.service()->pid, 0u);
}

}  // namespace
}  // namespace holvar::txn::scm::testing
