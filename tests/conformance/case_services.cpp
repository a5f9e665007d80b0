// The service manager with a service of the suite's own: create, query and
// change its configuration and description, start the real helper as the
// service's process, stop it, delete it, and what a handle without the right
// access may not do.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

constexpr uint32_t kOwnProcess = 0x10;     // SERVICE_WIN32_OWN_PROCESS
constexpr uint32_t kDemandStart = 3;       // SERVICE_DEMAND_START
constexpr uint32_t kErrorNormal = 1;       // SERVICE_ERROR_NORMAL
constexpr uint32_t kServiceAll = 0xF01FF;  // SERVICE_ALL_ACCESS
constexpr uint32_t kServiceDisabledError = 1058;
const std::u16string kNoDependencies(2, u'\0');

class Services : public Case {
  protected:
    void SetUp() override {
        Case::SetUp();
        name_ = unique_name(u"holvar_conformance_");
        display_ = name_ + u" display";
        auto scm = os().services.open_sc_manager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        ASSERT_OK(scm);
        scm_ = std::move(*scm);
        HelperSpec spec;
        spec.mode = HelperSpec::Mode::service;
        spec.name = name_;
        auto command = helper(spec);
        ASSERT_OK(command);
        binary_path_ = command->command_line;
    }

    // Whatever the case left: stopped, deleted, every handle closed.
    void TearDown() override {
        if (scm_.valid()) {
            if (auto svc = os().services.open_service(scm_, name_, kServiceAll)) {
                if (auto st = os().services.query_service_status(*svc);
                    st && st->current_state == SERVICE_RUNNING) {
                    (void)os().services.control_service(*svc, SERVICE_CONTROL_STOP);
                    (void)wait_for_state(*svc, SERVICE_STOPPED);
                }
                (void)os().services.delete_service(*svc);
            }
            scm_.reset();
        }
        Case::TearDown();
    }

    Result<Handle> create(uint32_t access = kServiceAll) {
        return os().services.create_service(scm_, name_, display_, access, kOwnProcess,
                                            kDemandStart, kErrorNormal, binary_path_,
                                            kNoDependencies, u"LocalSystem");
    }

    // Starts the service and waits until it runs: its status then.
    Result<ServiceStatusProcess> start_running(const Handle& svc) {
        if (auto st = os().services.start_service(svc); !st) return std::unexpected(st.error());
        auto running = wait_for_state(svc, SERVICE_RUNNING);
        if (running && running->current_state != SERVICE_RUNNING)
            return fail(ErrorKind::other, "the service never reported running");
        return running;
    }

    // Polls the status until `state`, at most 30 seconds: the last status seen.
    Result<ServiceStatusProcess> wait_for_state(const Handle& svc, uint32_t state) {
        const Instant deadline = os().clock.now() + std::chrono::seconds(30);
        for (;;) {
            auto st = os().services.query_service_status(svc);
            if (!st || st->current_state == state || os().clock.now() >= deadline) return st;
            os().clock.sleep_for(std::chrono::milliseconds(50));
        }
    }

    // Opens the service once the manager has dropped its record, at most 5
    // seconds after the last handle closed: Windows and Wine drop it a moment
    // after the close returns, not within the call.
    Result<Handle> open_once_gone() {
        const Instant deadline = os().clock.now() + std::chrono::seconds(5);
        for (;;) {
            auto h = os().services.open_service(scm_, name_, SERVICE_QUERY_STATUS);
            if (!h || os().clock.now() >= deadline) return h;
            h->reset();
            os().clock.sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::u16string name_;
    std::u16string display_;
    std::u16string binary_path_;
    Handle scm_;
};

TEST_F(Services, TheConfigurationReadsBackAsCreated) {
    auto svc = create();
    ASSERT_OK(svc);
    auto probe = os().services.query_service_config(*svc, 0);
    ASSERT_OK(probe);
    EXPECT_FALSE(probe->config.has_value());
    EXPECT_GT(probe->bytes_needed, 64u);
    auto answer = os().services.query_service_config(*svc, probe->bytes_needed);
    ASSERT_OK(answer);
    ASSERT_TRUE(answer->config.has_value());
    const QueryServiceConfig& c = *answer->config;
    EXPECT_EQ(c.service_type, kOwnProcess);
    EXPECT_EQ(c.start_type, kDemandStart);
    EXPECT_EQ(c.error_control, kErrorNormal);
    EXPECT_EQ(narrow(c.binary_path.value_or(u"(none)")), narrow(binary_path_));
    EXPECT_EQ(narrow(c.display_name.value_or(u"(none)")), narrow(display_));
    EXPECT_EQ(narrow(c.service_start_name.value_or(u"(none)")), "LocalSystem");
    EXPECT_EQ(narrow(c.dependencies.value_or(u"(none)")), "");
}

TEST_F(Services, ANewServiceIsStopped) {
    auto svc = create();
    ASSERT_OK(svc);
    auto st = os().services.query_service_status(*svc);
    ASSERT_OK(st);
    EXPECT_EQ(st->current_state, SERVICE_STOPPED);
    EXPECT_EQ(st->process_id, 0u);
    EXPECT_EQ(st->service_type, kOwnProcess);
}

TEST_F(Services, CreatingAnExistingServiceIs1073) {
    auto svc = create();
    ASSERT_OK(svc);
    EXPECT_WIN32(create(), win32::service_exists);
}

TEST_F(Services, ServiceNamesIgnoreCase) {
    auto svc = create();
    ASSERT_OK(svc);
    std::u16string upper = name_;
    for (auto& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    EXPECT_TRUE(os().services.open_service(scm_, upper, SERVICE_QUERY_STATUS).has_value());
}

TEST_F(Services, ChangedNumbersAndTextsReadBack) {
    auto svc = create();
    ASSERT_OK(svc);
    const std::u16string shown = name_ + u" renamed";
    ASSERT_OK(os().services.change_service_config(*svc, SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                                  SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                  &shown));
    auto answer = os().services.query_service_config(*svc, 8192);
    ASSERT_OK(answer);
    ASSERT_TRUE(answer->config.has_value());
    EXPECT_EQ(answer->config->start_type, SERVICE_DISABLED);
    EXPECT_EQ(answer->config->service_type, kOwnProcess);
    EXPECT_EQ(answer->config->error_control, kErrorNormal);
    EXPECT_EQ(narrow(answer->config->display_name.value_or(u"")), narrow(shown));
    EXPECT_EQ(narrow(answer->config->binary_path.value_or(u"")), narrow(binary_path_));
}

TEST_F(Services, ADisabledServiceDoesNotStart) {
    auto svc = create();
    ASSERT_OK(svc);
    ASSERT_OK(os().services.change_service_config(*svc, SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                                  SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                  nullptr));
    EXPECT_WIN32(os().services.start_service(*svc), kServiceDisabledError);
}

TEST_F(Services, TheDescriptionReadsBackBehindItsRecord) {
    auto svc = create();
    ASSERT_OK(svc);
    const std::u16string text = u"Conformance description";
    ASSERT_OK(os().services.change_service_description(*svc, &text));
    auto probe = os().services.query_service_description(*svc, 0);
    ASSERT_OK(probe);
    EXPECT_FALSE(probe->fitted);
    EXPECT_GE(probe->bytes_needed, 8u + 2u * (text.size() + 1));
    auto answer = os().services.query_service_description(*svc, probe->bytes_needed);
    ASSERT_OK(answer);
    ASSERT_TRUE(answer->fitted);
    ASSERT_TRUE(answer->description_offset.has_value());
    const auto offset = static_cast<size_t>(*answer->description_offset);
    ASSERT_GE(offset, 8u);
    ASSERT_LE(offset + 2 * (text.size() + 1), answer->buffer.size());
    std::u16string read;
    for (size_t i = 0; i <= text.size(); ++i) {
        read.push_back(static_cast<char16_t>(answer->buffer[offset + 2 * i] |
                                             (answer->buffer[offset + 2 * i + 1] << 8)));
    }
    EXPECT_EQ(narrow(read), narrow(text + u'\0'));
}

TEST_F(Services, ANewServiceHasNoDescription) {
    auto svc = create();
    ASSERT_OK(svc);
    auto answer = os().services.query_service_description(*svc, 256);
    ASSERT_OK(answer);
    ASSERT_TRUE(answer->fitted);
    EXPECT_FALSE(answer->description_offset.has_value());
}

// A handle opened for status only may do nothing else (5).
TEST_F(Services, AStatusOnlyHandleMayDoNothingElse) {
    auto created = create();
    ASSERT_OK(created);
    auto svc = os().services.open_service(scm_, name_, SERVICE_QUERY_STATUS);
    ASSERT_OK(svc);
    EXPECT_TRUE(os().services.query_service_status(*svc).has_value());
    EXPECT_WIN32(os().services.query_service_config(*svc, 8192), win32::access_denied);
    EXPECT_WIN32(os().services.query_service_description(*svc, 256), win32::access_denied);
    EXPECT_WIN32(
        os().services.change_service_config(*svc, SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                            SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr),
        win32::access_denied);
    const std::u16string text = u"x";
    EXPECT_WIN32(os().services.change_service_description(*svc, &text), win32::access_denied);
    EXPECT_WIN32(os().services.start_service(*svc), win32::access_denied);
    EXPECT_WIN32(os().services.control_service(*svc, SERVICE_CONTROL_STOP), win32::access_denied);
    EXPECT_WIN32(os().services.delete_service(*svc), win32::access_denied);
}

TEST_F(Services, AConfigOnlyHandleCannotQueryStatus) {
    auto created = create();
    ASSERT_OK(created);
    auto svc = os().services.open_service(scm_, name_, SERVICE_QUERY_CONFIG);
    ASSERT_OK(svc);
    EXPECT_TRUE(os().services.query_service_config(*svc, 8192).has_value());
    EXPECT_WIN32(os().services.query_service_status(*svc), win32::access_denied);
}

TEST_F(Services, AConnectOnlyManagerCannotCreate) {
    auto connect_only = os().services.open_sc_manager(SC_MANAGER_CONNECT);
    ASSERT_OK(connect_only);
    EXPECT_WIN32(os().services.create_service(*connect_only, name_, display_, kServiceAll,
                                              kOwnProcess, kDemandStart, kErrorNormal, binary_path_,
                                              kNoDependencies, u"LocalSystem"),
                 win32::access_denied);
}

TEST_F(Services, TheHelperRunsAsTheServiceAndStopsOnTheControl) {
    auto svc = create();
    ASSERT_OK(svc);
    auto running = start_running(*svc);
    ASSERT_OK(running);
    EXPECT_NE(running->process_id, 0u);
    EXPECT_TRUE(running->controls_accepted & SERVICE_ACCEPT_STOP);

    // Its process runs the helper's image.
    auto process = os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                               false, running->process_id);
    ASSERT_OK(process);
    auto image = os().processes.query_full_process_image_name(*process, 0, PATH_BUFFER_UNITS);
    ASSERT_OK(image);
    EXPECT_TRUE(ascii_iequal(file_name(*image).value_or(u""), Host::helper_image_name))
        << narrow(*image);

    EXPECT_WIN32(os().services.start_service(*svc), win32::service_already_running);

    ASSERT_OK(os().services.control_service(*svc, SERVICE_CONTROL_STOP));
    auto stopped = wait_for_state(*svc, SERVICE_STOPPED);
    ASSERT_OK(stopped);
    EXPECT_EQ(stopped->current_state, SERVICE_STOPPED);
    EXPECT_EQ(stopped->win32_exit_code, 0u);
    EXPECT_EQ(stopped->process_id, 0u);
    // Its process is gone once it has reported stopped.
    auto gone = os().sync.wait_for_single_object(*process, 30'000);
    ASSERT_OK(gone);
    EXPECT_EQ(*gone, WAIT_OBJECT_0);
}

TEST_F(Services, StoppingAStoppedServiceIs1062) {
    auto svc = create();
    ASSERT_OK(svc);
    EXPECT_WIN32(os().services.control_service(*svc, SERVICE_CONTROL_STOP),
                 win32::service_not_active);
}

TEST_F(Services, ADeletedServiceGoesWithItsLastHandle) {
    auto svc = create();
    ASSERT_OK(svc);
    ASSERT_OK(os().services.delete_service(*svc));
    EXPECT_WIN32(os().services.delete_service(*svc), win32::service_marked_for_delete);
    svc->reset();
    EXPECT_WIN32(open_once_gone(), win32::service_does_not_exist);
}

TEST_F(Services, ARunningServiceMarkedForDeleteGoesOnceStopped) {
    auto svc = create();
    ASSERT_OK(svc);
    auto running = start_running(*svc);
    ASSERT_OK(running);
    auto process = os().processes.open_process(SYNCHRONIZE, false, running->process_id);
    ASSERT_OK(process);
    ASSERT_OK(os().services.delete_service(*svc));
    // Still there while it runs: its status can be read through the handle.
    auto st = os().services.query_service_status(*svc);
    ASSERT_OK(st);
    EXPECT_EQ(st->current_state, SERVICE_RUNNING);
    ASSERT_OK(os().services.control_service(*svc, SERVICE_CONTROL_STOP));
    auto stopped = wait_for_state(*svc, SERVICE_STOPPED);
    ASSERT_OK(stopped);
    EXPECT_EQ(stopped->current_state, SERVICE_STOPPED);
    // Once its process has ended too, the last handle takes the service along.
    auto gone = os().sync.wait_for_single_object(*process, 30'000);
    ASSERT_OK(gone);
    EXPECT_EQ(*gone, WAIT_OBJECT_0);
    svc->reset();
    EXPECT_WIN32(open_once_gone(), win32::service_does_not_exist);
}

}  // namespace
}  // namespace holvar::conformance
