// Child processes of the suite's own helper: exit codes, the environment
// block a child is given, jobs named in the attribute list, and what the
// process list says about a child.
#include <algorithm>

#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;
using Mode = HelperSpec::Mode;

constexpr uint32_t kLong = 600'000;  // a child that runs until the case ends it

HelperSpec exiting(uint32_t code, uint32_t run_ms = 0) {
    HelperSpec spec;
    spec.mode = Mode::exit_code;
    spec.exit_code = code;
    spec.run_ms = run_ms;
    return spec;
}

// The variables of a UTF-16LE environment block as the helper wrote it.
std::vector<std::u16string> variables_of(const std::string& bytes) {
    std::vector<std::u16string> out;
    std::u16string current;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                 (static_cast<uint8_t>(bytes[i + 1]) << 8));
        if (c != u'\0') {
            current.push_back(c);
            continue;
        }
        if (current.empty()) break;
        out.push_back(current);
        current.clear();
    }
    return out;
}

class ChildExitCodes : public Case, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ChildExitCodes, TheExitCodeIsTheOneTheChildGave) {
    auto child = start_helper(exiting(GetParam()));
    ASSERT_OK(child);
    auto code = child->wait_exit(30'000);
    ASSERT_OK(code);
    EXPECT_EQ(*code, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Codes, ChildExitCodes,
                         ::testing::Values(0u, 1u, 42u, 259u + 1u, 0xC0000005u));

class Children : public Case {};

TEST_F(Children, ARunningChildIsStillActiveUntilTerminated) {
    auto child = start_helper(exiting(0, kLong));
    ASSERT_OK(child);
    auto running = os().processes.get_exit_code_process(child->process());
    ASSERT_OK(running);
    EXPECT_EQ(*running, STILL_ACTIVE);
    auto waited = os().sync.wait_for_single_object(child->process(), 50);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_TIMEOUT);
    ASSERT_OK(os().processes.terminate_process(child->process(), 7));
    auto code = child->wait_exit(30'000);
    ASSERT_OK(code);
    EXPECT_EQ(*code, 7u);
}

TEST_F(Children, TheChildIsNamedByItsImageAndItsParentIsThisProcess) {
    auto child = start_helper(exiting(0, kLong));
    ASSERT_OK(child);
    auto command = helper(exiting(0, kLong));
    ASSERT_OK(command);
    auto opened =
        os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION, false, child->pid());
    ASSERT_OK(opened);
    auto image = os().processes.query_full_process_image_name(*opened, 0, PATH_BUFFER_UNITS);
    ASSERT_OK(image);
    EXPECT_TRUE(ascii_iequal(file_name(*image).value_or(u""), Host::helper_image_name))
        << narrow(*image);
    EXPECT_TRUE(is_absolute_path(*image)) << narrow(*image);

    auto snapshot = os().processes.create_toolhelp32_snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_OK(snapshot);
    bool found = false;
    for (auto entry = os().processes.process32_first(*snapshot); entry;
         entry = os().processes.process32_next(*snapshot)) {
        if (entry->process_id != child->pid()) continue;
        found = true;
        EXPECT_EQ(entry->parent_process_id, os().processes.get_current_process_id());
        EXPECT_TRUE(ascii_iequal(entry->exe_file, Host::helper_image_name))
            << narrow(entry->exe_file);
    }
    EXPECT_TRUE(found);
}

TEST_F(Children, AnEndedChildKeepsItsExitCodeForItsHandle) {
    auto child = start_helper(exiting(3));
    ASSERT_OK(child);
    ASSERT_OK(child->wait_exit(30'000));
    auto again = os().processes.get_exit_code_process(child->process());
    ASSERT_OK(again);
    EXPECT_EQ(*again, 3u);
    auto waited = os().sync.wait_for_single_object(child->process(), 0);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
}

TEST_F(Children, WaitingOnAProcessNeedsSynchronizeAccess) {
    auto child = start_helper(exiting(0, kLong));
    ASSERT_OK(child);
    auto query_only =
        os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION, false, child->pid());
    ASSERT_OK(query_only);
    EXPECT_WIN32(os().sync.wait_for_single_object(*query_only, 0), win32::access_denied);
    auto waitable = os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                                false, child->pid());
    ASSERT_OK(waitable);
    auto waited = os().sync.wait_for_single_object(*waitable, 0);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_TIMEOUT);
}

class ChildEnvironment : public Case {
  protected:
    // Starts the helper with HOLVAR_CONF_A=1 and HOLVAR_CONF_B=two words as
    // its whole environment: the variables it saw.
    std::vector<std::u16string> child_variables() {
        HelperSpec spec;
        spec.mode = Mode::environment;
        spec.file = at(u"environment.bin");
        std::u16string block;
        for (std::u16string_view var : {u"HOLVAR_CONF_A=1", u"HOLVAR_CONF_B=two words"}) {
            block += var;
            block.push_back(u'\0');
        }
        block.push_back(u'\0');
        auto child = start_helper(spec, block);
        EXPECT_TRUE(child.has_value()) << describe(child.error());
        if (!child) return {};
        auto code = child->wait_exit(30'000);
        EXPECT_TRUE(code.has_value() && *code == 0);
        auto bytes = read_all(spec.file);
        EXPECT_TRUE(bytes.has_value());
        if (!bytes) return {};
        return variables_of(*bytes);
    }
};

std::string listed(const std::vector<std::u16string>& vars) {
    std::string out;
    for (const auto& v : vars) out += narrow(v) + "\n";
    return out;
}

TEST_F(ChildEnvironment, TheChildSeesTheVariablesOfItsBlock) {
    auto vars = child_variables();
    SCOPED_TRACE("the child's environment:\n" + listed(vars));
    auto has = [&](std::u16string_view var) {
        return std::find(vars.begin(), vars.end(), var) != vars.end();
    };
    EXPECT_TRUE(has(u"HOLVAR_CONF_A=1"));
    EXPECT_TRUE(has(u"HOLVAR_CONF_B=two words"));
    // Nothing of this process's own environment comes along.
    for (const auto& v : vars) EXPECT_FALSE(ascii_iequal(v.substr(0, 5), u"PATH=")) << narrow(v);
}

TEST_F(ChildEnvironment, TheBlockIsTheWholeEnvironment) {
    SKIP_ON_WINE(wine_gap::child_environment);
    auto vars = child_variables();
    SCOPED_TRACE("the child's environment:\n" + listed(vars));
    ASSERT_EQ(vars.size(), 2u);
    EXPECT_EQ(narrow(vars[0]), "HOLVAR_CONF_A=1");
    EXPECT_EQ(narrow(vars[1]), "HOLVAR_CONF_B=two words");
}

class JobList : public Case {};

TEST_F(JobList, AChildStartedInAJobEndsWithTheJobsExitCode) {
    auto job = os().processes.create_job_object();
    ASSERT_OK(job);
    ASSERT_OK(os().processes.set_job_extended_limit(*job, JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE));
    auto child = start_helper(exiting(0, kLong), {}, &*job);
    ASSERT_OK(child);
    ASSERT_OK(os().processes.terminate_job_object(*job, 9));
    auto code = child->wait_exit(30'000);
    ASSERT_OK(code);
    EXPECT_EQ(*code, 9u);
}

TEST_F(JobList, ClosingTheLastHandleOfAKillOnCloseJobEndsTheChild) {
    auto job = os().processes.create_job_object();
    ASSERT_OK(job);
    ASSERT_OK(os().processes.set_job_extended_limit(*job, JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE));
    auto child = start_helper(exiting(0, kLong), {}, &*job);
    ASSERT_OK(child);
    job->reset();
    auto waited = os().sync.wait_for_single_object(child->process(), 30'000);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
}

TEST_F(JobList, AChildOutsideAnyJobOutlivesAClosedJob) {
    auto job = os().processes.create_job_object();
    ASSERT_OK(job);
    ASSERT_OK(os().processes.set_job_extended_limit(*job, JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE));
    auto child = start_helper(exiting(0, kLong));
    ASSERT_OK(child);
    job->reset();
    auto waited = os().sync.wait_for_single_object(child->process(), 100);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_TIMEOUT);
}

}  // namespace
}  // namespace holvar::conformance
