// Tokens, process snapshots, jobs, the service manager, pipes and the
// Restart Manager: what holds without a helper program of the suite's own.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class Tokens : public Case {};

TEST_F(Tokens, ElevationIsAFourByteAnswer) {
    auto token = os().security.open_process_token(nullptr, TOKEN_QUERY);
    ASSERT_OK(token);
    auto probe = os().security.get_token_information(*token, TokenElevation, 0);
    ASSERT_OK(probe);
    EXPECT_TRUE(probe->last_error == 24 || probe->last_error == win32::insufficient_buffer)
        << probe->last_error;
    EXPECT_EQ(probe->return_length, 4u);
    auto answer = os().security.get_token_information(*token, TokenElevation, 4);
    ASSERT_OK(answer);
    EXPECT_EQ(answer->last_error, 0u);
    ASSERT_EQ(answer->bytes.size(), 4u);
}

TEST_F(Tokens, TheUserRecordPointsAtItsSid) {
    auto token = os().security.open_process_token(nullptr, TOKEN_QUERY);
    ASSERT_OK(token);
    auto probe = os().security.get_token_information(*token, TokenUser, 0);
    ASSERT_OK(probe);
    EXPECT_EQ(probe->last_error, win32::insufficient_buffer);
    ASSERT_GE(probe->return_length, 16u + 8u);
    auto answer = os().security.get_token_information(*token, TokenUser, probe->return_length);
    ASSERT_OK(answer);
    ASSERT_GE(answer->bytes.size(), 16u);
    uint64_t offset = 0;
    for (int i = 7; i >= 0; --i) offset = (offset << 8) | answer->bytes[static_cast<size_t>(i)];
    ASSERT_GE(offset, 16u);
    ASSERT_LT(offset, answer->bytes.size());
    std::vector<uint8_t> sid(answer->bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                             answer->bytes.end());
    sid.resize(8 + 4 * static_cast<size_t>(sid.size() > 1 ? sid[1] : 0));
    EXPECT_TRUE(sid_is_valid(sid));
}

TEST_F(Tokens, TheAdministratorsTokenIsElevated) {
    auto token = os().security.open_process_token(nullptr, TOKEN_QUERY);
    ASSERT_OK(token);
    auto answer = os().security.get_token_information(*token, TokenElevation, 4);
    ASSERT_OK(answer);
    ASSERT_EQ(answer->bytes.size(), 4u);
    EXPECT_NE(answer->bytes[0] | answer->bytes[1] | answer->bytes[2] | answer->bytes[3], 0);
}

TEST_F(Tokens, PrivilegesHaveTheirFixedLuids) {
    auto debug = os().security.lookup_privilege_value(u"SeDebugPrivilege");
    ASSERT_OK(debug);
    EXPECT_EQ(*debug, 20u);
    auto backup = os().security.lookup_privilege_value(u"SeBackupPrivilege");
    ASSERT_OK(backup);
    EXPECT_EQ(*backup, 17u);
}

TEST_F(Tokens, AnUnknownPrivilegeIs1313) {
    EXPECT_WIN32(os().security.lookup_privilege_value(u"SeNoSuchPrivilege"), 1313);
}

TEST_F(Tokens, AdjustingNeedsAdjustAccess) {
    auto token = os().security.open_process_token(nullptr, TOKEN_QUERY);
    ASSERT_OK(token);
    auto debug = os().security.lookup_privilege_value(u"SeDebugPrivilege");
    ASSERT_OK(debug);
    EXPECT_WIN32(os().security.adjust_token_privileges(*token, *debug, SE_PRIVILEGE_ENABLED),
                 win32::access_denied);
}

class ProcessList : public Case {};

TEST_F(ProcessList, TheSnapshotHoldsThisProcess) {
    auto snapshot = os().processes.create_toolhelp32_snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_OK(snapshot);
    const uint32_t self = os().processes.get_current_process_id();
    bool found = false;
    auto entry = os().processes.process32_first(*snapshot);
    while (entry) {
        if (entry->process_id == self) {
            found = true;
            EXPECT_TRUE(ascii_iequal(entry->exe_file, u"conformance-tests.exe"))
                << narrow(entry->exe_file);
        }
        entry = os().processes.process32_next(*snapshot);
    }
    EXPECT_TRUE(entry.error().is_win32(win32::no_more_files)) << describe(entry.error());
    EXPECT_TRUE(found);
}

TEST_F(ProcessList, ThisProcessIsStillActiveAndNamedByItsImage) {
    auto self = os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION, false,
                                            os().processes.get_current_process_id());
    ASSERT_OK(self);
    auto code = os().processes.get_exit_code_process(*self);
    ASSERT_OK(code);
    EXPECT_EQ(*code, STILL_ACTIVE);
    auto image = os().processes.query_full_process_image_name(*self, 0, PATH_BUFFER_UNITS);
    auto module = os().processes.get_module_file_name();
    ASSERT_OK(image);
    ASSERT_OK(module);
    EXPECT_TRUE(paths_equal(*image, *module)) << narrow(*image) << " / " << narrow(*module);
}

TEST_F(ProcessList, OpeningAProcessThatDoesNotExistIs87) {
    EXPECT_WIN32(os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION, false, 0x7FFFFFF0),
                 win32::invalid_parameter);
}

TEST_F(ProcessList, TheWindowsDirectory) {
    auto dir = os().processes.get_system_windows_directory(PATH_BUFFER_UNITS);
    ASSERT_OK(dir);
    EXPECT_TRUE(ascii_iequal(dir->text, u"C:\\Windows")) << narrow(dir->text);
    EXPECT_EQ(dir->length, dir->text.size());
    auto small = os().processes.get_system_windows_directory(2);
    ASSERT_OK(small);
    EXPECT_EQ(small->length, dir->length + 1);
    EXPECT_TRUE(small->text.empty());
}

class Jobs : public Case {};

TEST_F(Jobs, AKillOnCloseJobCanBeSetUpAndEnded) {
    auto job = os().processes.create_job_object();
    ASSERT_OK(job);
    ASSERT_OK(os().processes.set_job_extended_limit(*job, JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE));
    EXPECT_TRUE(os().processes.terminate_job_object(*job, 1).has_value());
}

TEST_F(Jobs, CreatingAProcessFromAMissingImageIs2) {
    CreateProcessRequest request;
    request.application_name = at(u"missing.exe");
    request.command_line = u"\"" + at(u"missing.exe") + u"\"";
    request.creation_flags = CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
    EXPECT_WIN32(os().processes.create_process(request), win32::file_not_found);
}

class ServiceManager : public Case {};

TEST_F(ServiceManager, AMissingServiceIs1060) {
    auto scm = os().services.open_sc_manager(SC_MANAGER_CONNECT);
    ASSERT_OK(scm);
    EXPECT_WIN32(
        os().services.open_service(*scm, u"holvar_conformance_missing", SERVICE_QUERY_STATUS),
        win32::service_does_not_exist);
}

class NamedPipes : public Case {};

TEST_F(NamedPipes, APipeNobodyServesIs2) {
    EXPECT_WIN32(files().create_file(u"\\\\.\\pipe\\holvar-conformance-nobody",
                                     GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0),
                 win32::file_not_found);
}

class RestartManagerSessions : public Case {};

TEST_F(RestartManagerSessions, AFileNobodyHoldsHasNoHolders) {
    ASSERT_OK(make_file(at(u"free.dll")));
    auto session = os().restart_manager.rm_start_session();
    ASSERT_OK(session);
    ASSERT_OK(os().restart_manager.rm_register_resources(*session, {at(u"free.dll")}));
    RmList list = os().restart_manager.rm_get_list(*session, 0);
    EXPECT_EQ(list.status, 0u);
    EXPECT_EQ(list.proc_info_needed, 0u);
    EXPECT_TRUE(list.records.empty());
    EXPECT_TRUE(os().restart_manager.rm_end_session(*session).has_value());
}

}  // namespace
}  // namespace holvar::conformance
