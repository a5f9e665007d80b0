// The simulated side of the conformance suite: every case gets a fresh
// machine and a process of its own, running as an elevated administrator in
// C:\Windows\System32, with an empty work directory.
#include "conformance.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::conformance {
namespace {

class SimHost final : public Host {
  public:
    SimHost() : machine_(sim::Machine::fresh()) {
        auto admins = platform::sid_from_string(platform::sids::administrators);
        auto made = machine_->make_directory(work_, *admins);
        EXPECT_TRUE(made.has_value()) << "work directory: " << describe(made.error());
        pid_ = machine_->spawn_process(u"C:\\Conformance\\conformance-tests.exe",
                                       sim::admin_token(), cwd_);
        process_ = std::make_unique<sim::ProcessOs>(*machine_, pid_);
    }

    platform::Os& os() override { return process_->os(); }
    const std::u16string& work_directory() const override { return work_; }
    const std::u16string& current_directory() const override { return cwd_; }
    bool on_wine() const override { return false; }

  private:
    std::u16string work_ = u"C:\\Conformance";
    std::u16string cwd_ = u"C:\\Windows\\System32";
    std::unique_ptr<sim::Machine> machine_;
    uint32_t pid_ = 0;
    std::unique_ptr<sim::ProcessOs> process_;
};

}  // namespace

std::unique_ptr<Host> open_host() {
    return std::make_unique<SimHost>();
}

}  // namespace holvar::conformance
