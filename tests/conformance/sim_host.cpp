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

    // The helper modes as simulated programs: an image file per helper,
    // named as on Windows, holding the program's description.
    platform::Result<HelperCommand> helper(const HelperSpec& spec) override {
        using Mode = HelperSpec::Mode;
        std::string program;
        switch (spec.mode) {
            case Mode::exit_code:
                program = R"({"kind": "probe", "exit_code": )" + std::to_string(spec.exit_code) +
                          R"(, "run_ms": )" + std::to_string(spec.run_ms) + "}";
                break;
            case Mode::environment:
                program =
                    R"({"kind": "probe", "environment_file": ")" + json_text(spec.file) + R"("})";
                break;
            case Mode::pipe_echo:
            case Mode::pipe_silent:
                program = R"({"kind": "companion", "pipe": ")" + json_text(spec.name) +
                          R"(", "pipe_instances": )" + std::to_string(spec.instances);
                if (spec.mode == Mode::pipe_echo)
                    program +=
                        R"(, "echo": true, "echo_delay_ms": )" + std::to_string(spec.delay_ms);
                program += "}";
                break;
            case Mode::mutex_hold:
            case Mode::mutex_abandon:
                program = R"({"kind": "probe", "mutex": ")" + json_text(spec.name) +
                          R"(", "ready_file": ")" + json_text(spec.file) + R"(", "hold_ms": )" +
                          std::to_string(spec.delay_ms) + R"(, "abandon": )" +
                          (spec.mode == Mode::mutex_abandon ? "true" : "false") + "}";
                break;
            case Mode::file_holder:
                program = R"({"kind": "probe", "hold_file": ")" + json_text(spec.file) + R"("})";
                break;
            case Mode::service:
                program = R"({"kind": "service", "start_pending_ms": 100, "stop_ms": 50,)"
                          R"( "creates": []})";
                break;
        }
        const std::string text = "#holvar-sim-program\n" + program;
        auto admins = platform::sid_from_string(platform::sids::administrators);
        const std::u16string folder = platform::join_path(helpers_, decimal(++helper_count_));
        if (!machine_->exists(helpers_)) {
            if (auto made = machine_->make_directory(helpers_, *admins); !made)
                return std::unexpected(made.error());
        }
        if (auto made = machine_->make_directory(folder, *admins); !made)
            return std::unexpected(made.error());
        HelperCommand out;
        out.image = platform::join_path(folder, Host::helper_image_name);
        if (auto written = machine_->write_file(
                out.image, std::vector<uint8_t>(text.begin(), text.end()), *admins);
            !written)
            return std::unexpected(written.error());
        out.command_line = u"\"" + out.image + u"\"";
        return out;
    }

    platform::Status make_junction(const std::u16string& link,
                                   const std::u16string& target) override {
        auto admins = platform::sid_from_string(platform::sids::administrators);
        return machine_->make_junction(link, target, *admins);
    }

  private:
    static std::u16string decimal(uint64_t value) {
        std::u16string out;
        for (char c : std::to_string(value)) out.push_back(static_cast<char16_t>(c));
        return out;
    }
    // ASCII text inside a JSON string: backslashes and quotes escaped.
    static std::string json_text(const std::u16string& text) {
        std::string out;
        for (char16_t c : text) {
            if (c == u'\\' || c == u'"') out.push_back('\\');
            out.push_back(static_cast<char>(c));
        }
        return out;
    }

    std::u16string work_ = u"C:\\Conformance";
    std::u16string cwd_ = u"C:\\Windows\\System32";
    std::unique_ptr<sim::Machine> machine_;
    uint32_t pid_ = 0;
    std::unique_ptr<sim::ProcessOs> process_;
    std::u16string helpers_ = u"C:\\ConformanceHelpers";
    uint64_t helper_count_ = 0;
};

}  // namespace

std::unique_ptr<Host> open_host() {
    return std::make_unique<SimHost>();
}

}  // namespace holvar::conformance
