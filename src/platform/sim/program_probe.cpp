// The probe: a small program of the conformance suite's own, the simulated
// twin of conformance-helper.exe. Its description, after the program marker:
//
//   {"kind": "probe",
//    "exit_code": 0, "run_ms": 0,       runs that long, then exits with that code
//    "environment_file": "C:\\...",     writes its environment block there first
//                                       (UTF-16LE: every "NAME=value" with its NUL,
//                                       then the final NUL) and exits at once
//    "mutex": "name", "ready_file": "C:\\...", "hold_ms": 0, "abandon": false,
//                                       takes the named mutex, creates the ready
//                                       file, then either ends still owning it
//                                       (abandoned) or releases it after hold_ms
//                                       and ends
//    "hold_file": "C:\\..."}             opens the file for reading, sharing read
//                                       only, creates "<file>.held", runs until ended
//   One of environment_file, mutex and hold_file at a time.
#include <cstring>

#include "platform/sim/call_support.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;

namespace {

// Handles the probe opens for a moment (its files) close as it lets go of them.
class CloseAtOnce final : public HandleCloser {
  public:
    explicit CloseAtOnce(Machine::State& s) : s_(s) {}
    void close_handle(HandleKind, uint64_t raw) noexcept override { close_raw_handle(s_, raw); }

  private:
    Machine::State& s_;
};

// A handle the probe keeps for the rest of its life: it stays in the
// process's table and closes when the process ends.
class KeepOpen final : public HandleCloser {
  public:
    void close_handle(HandleKind, uint64_t) noexcept override {}
};

void write_new_file(Machine::State& s, uint32_t pid, const std::u16string& path,
                    std::span<const uint8_t> bytes) {
    CloseAtOnce closer(s);
    Caller c{s, pid, closer};
    auto h = sim_create_file(c, path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!h) return;
    (void)sim_write_file(c, *h, bytes);
}

void write_environment(Machine::State& s, uint32_t pid, const std::u16string& path) {
    std::u16string block;
    for (const auto& var : s.process_model.details.at(pid).environment) {
        block += var;
        block.push_back(u'\0');
    }
    block.push_back(u'\0');
    if (block.size() == 1) block.push_back(u'\0');  // an empty block is two NULs
    std::vector<uint8_t> bytes(block.size() * 2);
    for (size_t i = 0; i < block.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(block[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(block[i] >> 8);
    }
    write_new_file(s, pid, path, bytes);
}

// Takes the mutex as CreateMutexW (not owning) and a wait would: the handle
// stays with the process.
bool take_mutex(Machine::State& s, uint32_t pid, const std::u16string& name) {
    KeepOpen keep;
    Caller c{s, pid, keep};
    auto m = sim_create_mutex(c, name, false);
    if (!m) return false;
    auto waited = sim_wait_for_single_object(c, m->handle, 0);
    return waited && (*waited == WAIT_OBJECT_0 || *waited == WAIT_ABANDONED);
}

void probe_start(Machine::State& s, uint32_t pid, const json& d) {
    const uint32_t code = d.value("exit_code", 0u);
    if (auto f = d.find("environment_file"); f != d.end() && f->is_string()) {
        write_environment(s, pid, u16_of(f->get<std::string>()));
        exit_after(s, pid, 0, code);
        return;
    }
    if (auto f = d.find("hold_file"); f != d.end() && f->is_string()) {
        const std::u16string path = u16_of(f->get<std::string>());
        // GENERIC_READ as an open maps it: FILE_GENERIC_READ.
        constexpr uint32_t kFileGenericRead = 0x120089;
        hold_file(s, pid, path, kFileGenericRead, FILE_SHARE_READ);
        write_new_file(s, pid, path + u".held", {});
        return;
    }
    if (auto m = d.find("mutex"); m != d.end() && m->is_string()) {
        if (!take_mutex(s, pid, u16_of(m->get<std::string>()))) {
            exit_after(s, pid, 0, 4);
            return;
        }
        write_new_file(s, pid, u16_of(d.value("ready_file", std::string())), {});
        if (d.value("abandon", false)) {
            exit_after(s, pid, 0, code);
            return;
        }
        Event e;
        e.due_ns = s.clock.count() + static_cast<int64_t>(ms_of(d, "hold_ms")) * 1'000'000;
        e.pid = pid;
        e.action = "release_mutex";
        schedule_event(s, std::move(e));
        return;
    }
    exit_after(s, pid, ms_of(d, "run_ms"), code);
}

void probe_event(Machine::State& s, uint32_t pid, const Event& e, const json& d) {
    if (e.action != "release_mutex") return;
    // ReleaseMutex of the one mutex it owns.
    for (auto& [name, m] : s.mutexes) {
        if (m.owner != pid) continue;
        m.owner = 0;
        m.recursion = 0;
    }
    exit_after(s, pid, 0, d.value("exit_code", 0u));
}

}  // namespace

const ProgramKind probe_program{"probe", probe_start, probe_event};

}  // namespace holvar::sim
