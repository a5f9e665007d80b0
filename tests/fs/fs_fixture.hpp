// A simulated machine with the engine running as an elevated administrator,
// and the small helpers the file-system tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::fs::testing {

inline platform::Sid sid(const char16_t* text) {
    return *platform::sid_from_string(text);
}
inline platform::Sid admins() {
    return sid(platform::sids::administrators);
}

// One simulated machine with the engine's process on it.
class SimHost {
  public:
    SimHost()
        : machine_(sim::Machine::fresh()),
          setup_(machine_->make_directory(uR"(C:\Work)", admins())),
          engine_pid_(machine_->spawn_process(uR"(C:\Work\engine.exe)", sim::admin_token())),
          process_(std::make_unique<sim::ProcessOs>(*machine_, engine_pid_)) {}

    platform::Os& os() { return process_->os(); }
    sim::Machine& machine() { return *machine_; }

    void mkdir(const std::u16string& path) {
        ASSERT_TRUE(machine_->make_directory(path, admins()));
    }
    void write(const std::u16string& path, const std::string& text) {
        ASSERT_TRUE(
            machine_->write_file(path, std::vector<uint8_t>(text.begin(), text.end()), admins()));
    }
    void junction(const std::u16string& path, const std::u16string& target) {
        ASSERT_TRUE(machine_->make_junction(path, target, admins()));
    }
    std::string read(const std::u16string& path) {
        auto bytes = machine_->read_file(path);
        if (!bytes) return "<missing>";
        return std::string(bytes->begin(), bytes->end());
    }
    // The file id the machine holds for the object named `path` (links not followed).
    FileId id_of(const std::u16string& path) {
        auto info = machine_->stat(path);
        EXPECT_TRUE(info) << "no object at the path";
        return info ? FileId::from_bytes(info->file_id) : FileId{};
    }
    bool exists(const std::u16string& path) { return machine_->exists(path); }

    // An open made by another program of the machine (an administrator's),
    // kept until the Holder goes.
    struct Holder {
        std::unique_ptr<sim::ProcessOs> process;
        platform::Result<platform::Handle> handle;
    };
    Holder open_elsewhere(const std::u16string& path, uint32_t access, uint32_t share,
                          uint32_t flags = platform::OPEN_NO_FOLLOW) {
        uint32_t pid =
            machine_->spawn_process(uR"(C:\Windows\System32\other.exe)", sim::admin_token());
        Holder holder{std::make_unique<sim::ProcessOs>(*machine_, pid), platform::Handle{}};
        holder.handle = holder.process->os().files.create_file(path, access, share,
                                                               platform::OPEN_EXISTING, flags);
        return holder;
    }

    // Handles the engine's process holds open right now.
    size_t engine_handles() const {
        size_t n = 0;
        for (const auto& [raw, handle] : machine_->state().handles)
            if (handle.pid == engine_pid_) ++n;
        return n;
    }

  private:
    std::unique_ptr<sim::Machine> machine_;
    platform::Status setup_;
    uint32_t engine_pid_;
    std::unique_ptr<sim::ProcessOs> process_;
};

class FsTest : public ::testing::Test, public SimHost {};

}  // namespace holvar::txn::fs::testing
