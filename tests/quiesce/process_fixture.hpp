// A simulated machine with an install root under Program Files, the engine
// running as an elevated administrator, and helpers to start the runtime's
// programs on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/namespace_ops.hpp"

namespace holvar::testing {

inline platform::Sid sid(const char16_t* text) {
    return *platform::sid_from_string(text);
}

inline constexpr char16_t kRoot[] = u"C:\\Program Files\\Holvar";
inline constexpr char16_t kCompanion[] = u"C:\\Program Files\\Holvar\\holvar-mihomo.exe";
inline constexpr char16_t kClient[] = u"C:\\Program Files\\Holvar\\holvar-client.exe";

inline std::vector<uint8_t> program(const std::string& json) {
    std::string text = "#holvar-sim-program\n" + json;
    return std::vector<uint8_t>(text.begin(), text.end());
}

class ProcessHost {
  public:
    explicit ProcessHost(sim::Token engine_token = sim::admin_token())
        : machine_(sim::Machine::fresh()) {
        mkdir(u"C:\\Work");
        mkdir(kRoot);
        engine_pid_ = machine_->spawn_process(u"C:\\Work\\engine.exe", engine_token, u"C:\\Work");
        process_ = std::make_unique<sim::ProcessOs>(*machine_, engine_pid_);
    }

    platform::Os& os() { return process_->os(); }
    sim::Machine& machine() { return *machine_; }
    sim::Machine::State& state() { return machine_->state(); }

    void mkdir(const std::u16string& path) {
        ASSERT_TRUE(machine_->make_directory(path, sid(platform::sids::administrators)));
    }
    void write(const std::u16string& path, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(machine_->write_file(path, bytes, sid(platform::sids::administrators)));
    }
    void write_program(const std::u16string& path, const std::string& json) {
        write(path, program(json));
    }
    // Starts a process of the machine from outside (as the service manager or
    // the user's session would).
    uint32_t start(const std::u16string& image, const sim::Token& token = sim::system_token()) {
        uint32_t pid = machine_->spawn_process(image, token, u"C:\\Windows\\System32");
        EXPECT_NE(pid, 0u);
        return pid;
    }
    size_t engine_handles() const {
        size_t n = 0;
        for (const auto& [raw, h] : machine_->state().handles)
            if (h.pid == engine_pid_) ++n;
        return n;
    }
    std::vector<uint32_t> processes_running(const std::u16string& image) const {
        std::vector<uint32_t> pids;
        for (const auto& [pid, p] : machine_->state().processes)
            if (p.alive && p.image == image) pids.push_back(pid);
        return pids;
    }
    // Grants `who` an extra access-allowed entry on an object.
    void grant(const std::u16string& path, const char16_t* who, uint32_t mask, uint8_t flags = 0,
               uint8_t type = platform::ACCESS_ALLOWED_ACE_TYPE) {
        auto node = node_of(path);
        ASSERT_TRUE(node.has_value());
        platform::Acl dacl = state().live.nodes.at(*node).dacl.value_or(platform::Acl{});
        platform::Ace ace;
        ace.type = type;
        ace.flags = flags;
        ace.mask = mask;
        ace.sid = sid(who);
        ace.size = static_cast<uint16_t>(8 + ace.sid.bytes.size());
        dacl.aces.push_back(ace);
        ASSERT_TRUE(machine_->set_dacl(path, dacl, false));
    }
    // The object a path names (links not followed).
    std::optional<sim::NodeId> node_of(const std::u16string& path) {
        auto info = machine_->stat(path);
        if (!info) return std::nullopt;
        for (const auto& [id, n] : state().live.nodes.all())
            if (sim::file_id_bytes(n->file_index) == info->file_id) return id;
        return std::nullopt;
    }

  private:
    std::unique_ptr<sim::Machine> machine_;
    uint32_t engine_pid_ = 0;
    std::unique_ptr<sim::ProcessOs> process_;
};

}  // namespace holvar::testing
