// A simulated machine with a tree to scan, and the engine's view of it with a
// hook between listing and opening.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "interposed_files.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::plan::testing {

inline platform::Sid admins() {
    return *platform::sid_from_string(platform::sids::administrators);
}

class ScanTest : public ::testing::Test {
  public:
    ScanTest()
        : machine_(sim::Machine::fresh()),
          pid_(machine_->spawn_process(u"C:\\Windows\\engine.exe", sim::admin_token())),
          process_(std::make_unique<sim::ProcessOs>(*machine_, pid_)),
          files_(process_->os().files,
                 [this](const std::u16string& pattern, std::vector<platform::FindData>& listing) {
                     if (hook_) hook_(pattern, listing);
                 }),
          os_{files_,
              process_->os().security,
              process_->os().sync,
              process_->os().clock,
              process_->os().processes,
              process_->os().services,
              process_->os().registry,
              process_->os().restart_manager,
              process_->os().pipes} {
        mkdir(base);
    }

    static inline const std::u16string base = u"C:\\Holvar";

    platform::Os& os() { return os_; }
    sim::Machine& machine() { return *machine_; }
    void on_listing(InterposedFiles::Hook hook) { hook_ = std::move(hook); }

    void mkdir(const std::u16string& path) {
        ASSERT_TRUE(machine_->make_directory(path, admins()));
    }
    void write(const std::u16string& path, const std::string& text = "x") {
        ASSERT_TRUE(
            machine_->write_file(path, std::vector<uint8_t>(text.begin(), text.end()), admins()));
    }
    void junction(const std::u16string& path, const std::u16string& target) {
        ASSERT_TRUE(machine_->make_junction(path, target, admins()));
    }
    fs::FileId id_of(const std::u16string& path) {
        auto info = machine_->stat(path);
        EXPECT_TRUE(info);
        return info ? fs::FileId::from_bytes(info->file_id) : fs::FileId{};
    }
    std::unique_ptr<sim::ProcessOs> other_process() {
        uint32_t pid = machine_->spawn_process(u"C:\\Windows\\other.exe", sim::admin_token());
        return std::make_unique<sim::ProcessOs>(*machine_, pid);
    }

  private:
    std::unique_ptr<sim::Machine> machine_;
    uint32_t pid_;
    std::unique_ptr<sim::ProcessOs> process_;
    InterposedFiles::Hook hook_;
    InterposedFiles files_;
    platform::Os os_;
};

}  // namespace holvar::txn::plan::testing
