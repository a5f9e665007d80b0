// A simulated machine with an install root holding a service image, the
// engine's elevated process, and a record of the service calls it makes.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/security_model.hpp"
#include "txn/scm/scm.hpp"

namespace holvar::txn::scm::testing {

inline constexpr char16_t kRoot[] = u"C:\\Program Files\\Holvar";
inline constexpr char16_t kImage[] = u"C:\\Program Files\\Holvar\\resources\\holvar-service.exe";

inline std::vector<uint8_t> program(const std::string& json) {
    std::string text = std::string(sim::kProgramMarker) + json;
    return {text.begin(), text.end()};
}

class ScmHost {
  public:
    explicit ScmHost(const std::string& service_program = R"({"kind":"service"})",
                     sim::Token engine_token = sim::admin_token())
        : machine(sim::Machine::fresh()) {
        auto admins = sim::administrators_sid();
        EXPECT_TRUE(machine->make_directory(kRoot, admins));
        EXPECT_TRUE(machine->make_directory(std::u16string(kRoot) + u"\\resources", admins));
        EXPECT_TRUE(machine->write_file(kImage, program(service_program), admins));
        pid = machine->spawn_process(u"C:\\Program Files\\Holvar.stage\\engine.exe", engine_token);
        engine = std::make_unique<sim::ProcessOs>(*machine, pid);
        machine->state().scm.on_call = [this](sim::Machine::State& s, std::string_view call) {
            calls[std::string(call)] += 1;
            if (call == "query_service_status") status_polls.push_back(s.clock);
            if (before_call) before_call(s, call);
        };
    }

    platform::Os& os() { return engine->os(); }
    sim::Machine::State& state() { return machine->state(); }
    sim::Service* service() {
        auto it = state().scm.services.find(u"HOLVAR_SERVICE");
        return it == state().scm.services.end() ? nullptr : &it->second;
    }
    // The service configured as an install configures it, optionally changed.
    void install(const ScmConfig& config = desired_scm_config(kRoot)) {
        ASSERT_TRUE(scm_apply(os(), config));
    }
    void install_running(const ScmConfig& config = desired_scm_config(kRoot)) {
        install(config);
        ASSERT_TRUE(scm_start(os()));
        ASSERT_TRUE(scm_wait_running(os(), std::chrono::seconds(30)));
        calls.clear();
        status_polls.clear();
    }
    bool alive(uint32_t p) const { return machine->process_alive(p); }
    int count(const std::string& call) const {
        auto it = calls.find(call);
        return it == calls.end() ? 0 : it->second;
    }

    std::unique_ptr<sim::Machine> machine;
    uint32_t pid = 0;
    std::unique_ptr<sim::ProcessOs> engine;
    std::map<std::string, int> calls;
    std::vector<platform::Instant> status_polls;
    std::function<void(sim::Machine::State&, std::string_view)> before_call;
};

}  // namespace holvar::txn::scm::testing
