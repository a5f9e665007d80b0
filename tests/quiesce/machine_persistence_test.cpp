// Processes, their programs, jobs, pipes and pending events survive a save
// and load of the machine, as separate holvar-sim runs need.
#include <gtest/gtest.h>

#include "managed_v3/identity/pipe_server.hpp"
#include "quiesce/process_fixture.hpp"

namespace holvar::testing {
namespace {

using namespace std::chrono_literals;

TEST(MachinePersistence, RunningProgramsAndTheirScheduleSurviveALoad) {
    ProcessHost host;
    host.mkdir(u"C:\\Other");
    host.write_program(
        u"C:\\Other\\late.exe",
        R"({"kind":"companion","pipe":"holvar-mihomo","pipe_after_ms":5000,"run_ms":9000})");
    const uint32_t pid = host.start(u"C:\\Other\\late.exe");

    auto loaded = sim::Machine::from_json(host.machine().to_json());
    ASSERT_TRUE(loaded);
    sim::Machine& m = **loaded;
    ASSERT_TRUE(m.process_alive(pid));
    EXPECT_EQ(m.state().process_model.details.at(pid).program, u"companion");
    // The image stays mapped: the file cannot be deleted while it runs.
    EXPECT_NE(m.state().processes.at(pid).image_node, 0u);

    const uint32_t engine = m.spawn_process(u"C:\\Work\\engine.exe", sim::admin_token());
    sim::ProcessOs engine_os(m, engine);
    EXPECT_EQ(v3::probe_legacy_endpoints(engine_os.os()), v3::EndpointProbe::absent);
    m.advance(5s);
    EXPECT_EQ(v3::probe_legacy_endpoints(engine_os.os()), v3::EndpointProbe::present);
    m.advance(4s);
    EXPECT_FALSE(m.process_alive(pid));
    EXPECT_EQ(v3::probe_legacy_endpoints(engine_os.os()), v3::EndpointProbe::absent);
}

TEST(MachinePersistence, ACrashEndsEveryProgramAndForgetsItsSchedule) {
    ProcessHost host;
    host.mkdir(u"C:\\Other");
    host.write_program(u"C:\\Other\\late.exe", R"({"kind":"companion","pipe":"holvar-mihomo"})");
    host.start(u"C:\\Other\\late.exe");
    host.machine().crash();
    EXPECT_TRUE(host.state().process_model.pipes.empty());
    EXPECT_TRUE(host.state().process_model.events.empty());
    auto loaded = sim::Machine::from_json(host.machine().to_json());
    EXPECT_TRUE(loaded);
}

}  // namespace
}  // namespace holvar::testing

namespace holvar::testing {
namespace {

TEST(MachinePersistence, AMachineSavedWhileTheEngineHoldsProcessHandlesStillLoads) {
    ProcessHost host;
    host.write_program(kCompanion, R"({"kind":"companion","pipe":"holvar-mihomo"})");
    const uint32_t pid = host.start(kCompanion);
    auto process = host.os().processes.open_process(0x101000, false, pid);
    auto job = host.os().processes.create_job_object();
    auto pipe = host.os().files.create_file(u"\\\\.\\pipe\\holvar-mihomo", 0xC0000000, 0,
                                            platform::OPEN_EXISTING, 0);
    ASSERT_TRUE(process && job && pipe);
    auto loaded = sim::Machine::from_json(host.machine().to_json());
    ASSERT_TRUE(loaded);
    EXPECT_TRUE((*loaded)->process_alive(pid));
    EXPECT_EQ((*loaded)->state().process_model.pipes.size(), 1u);
}

}  // namespace
}  // namespace holvar::testing
