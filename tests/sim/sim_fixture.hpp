// A fresh simulated machine with one elevated engine process, and the small
// helpers the machine's tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.hpp"
#include "platform/win_types.hpp"

namespace holvar::sim::testing {

using namespace platform;

inline std::vector<uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}
inline std::string text(const std::vector<uint8_t>& b) {
    return {b.begin(), b.end()};
}

// Opens for the purposes the engine uses: attributes only, or DELETE too.
inline constexpr uint32_t kProbe = FILE_READ_ATTRIBUTES;
inline constexpr uint32_t kForRename = DELETE | FILE_READ_ATTRIBUTES;

class SimTest : public ::testing::Test {
  protected:
    SimTest()
        : machine(Machine::fresh()),
          engine_pid(machine->spawn_process(u"C:\\stage\\engine.exe", admin_token(),
                                            u"C:\\Windows\\System32")),
          engine(std::make_unique<ProcessOs>(*machine, engine_pid)) {}

    Os& os() { return engine->os(); }

    // A process of the machine with its own boundary.
    std::unique_ptr<ProcessOs> spawn(const Token& token,
                                     std::u16string cwd = u"C:\\Windows\\System32") {
        uint32_t pid = machine->spawn_process(u"C:\\Windows\\other.exe", token, cwd);
        return std::make_unique<ProcessOs>(*machine, pid);
    }

    Result<Handle> open(const std::u16string& path, uint32_t access = kProbe,
                        uint32_t share = FILE_SHARE_ALL, uint32_t flags = OPEN_NO_FOLLOW,
                        uint32_t disposition = OPEN_EXISTING) {
        return os().files.create_file(path, access, share, disposition, flags);
    }
    Result<Handle> create(const std::u16string& path, uint32_t disposition = CREATE_NEW) {
        return os().files.create_file(path, GENERIC_WRITE | GENERIC_READ, FILE_SHARE_ALL,
                                      disposition, 0);
    }
    void write_all(const Handle& h, std::string_view data) {
        auto b = bytes(data);
        auto n = os().files.write_file(h, b);
        ASSERT_TRUE(n.has_value());
        ASSERT_EQ(*n, b.size());
    }
    std::string contents(const std::u16string& path) {
        auto b = machine->read_file(path);
        return b ? text(*b) : std::string("<missing>");
    }
    uint32_t error_of(const Status& st) { return st ? 0 : st.error().win32; }
    template <class T>
    uint32_t error_of(const Result<T>& r) {
        return r ? 0 : r.error().win32;
    }

    std::unique_ptr<Machine> machine;
    uint32_t engine_pid;
    std::unique_ptr<ProcessOs> engine;
};

}  // namespace holvar::sim::testing
