// A simulated machine laid out as the setup program leaves it before a run:
// a parent folder holding the stage directory with the engine in it and the
// diagnostics directory, both owned by Administrators; the install root
// itself does not exist yet.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "installer/drivers.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::installer::testing {

using namespace holvar::txn::outcome;

inline const std::string txid = "0123456789abcdef0123456789abcdef";
inline const std::u16string txid16 = u"0123456789abcdef0123456789abcdef";
inline const std::u16string parent = u"C:\\Program Files\\Holvar";
inline const std::u16string root = parent + u"\\Runtime";
inline const std::u16string stage = parent + u"\\.Holvar-upgrade-" + txid16;
inline const std::u16string engine_exe = stage + u"\\holvar-service-install.exe";
inline const std::u16string diagnostics = parent + u"\\Holvar-Install-Diagnostics";
inline const std::u16string mutex_name = u"Global\\Holvar.ManagedInstaller.Transaction.v3";

platform::Sid administrators();
platform::Sid local_system();
platform::Sid ordinary_user();

// One call that reached a driver.
struct DriverCall {
    Command command = Command::apply;
    std::u16string root;
    std::u16string stage_dir;  // empty for repair
    bool purge = false;
    friend bool operator==(const DriverCall&, const DriverCall&) = default;
};

// Drivers that only record how they were called. Each answers with an outcome
// of its own so the exit code shows which one ran.
class RecordingDrivers : public Drivers {
  public:
    OutcomeReport apply(platform::Os& os, const std::u16string& root,
                        const std::u16string& stage_dir) override;
    OutcomeReport recover(platform::Os& os, const std::u16string& root,
                          const std::u16string& stage_dir) override;
    OutcomeReport remove(platform::Os& os, const std::u16string& root,
                         const std::u16string& stage_dir, bool purge) override;
    OutcomeReport repair(platform::Os& os, const std::u16string& root) override;

    std::vector<DriverCall> calls;
    // Runs inside every driver call, while the engine holds its lock.
    std::function<void(platform::Os&)> during;

  private:
    OutcomeReport record(platform::Os& os, DriverCall call, OutcomeKind outcome);
};

struct EngineMachine {
    EngineMachine();

    // Runs the engine as an elevated process whose image is `image`; the
    // process ends with the engine's exit code, as `holvar-sim run` does.
    int run(const std::vector<std::u16string>& argv, Drivers* drivers = nullptr,
            const std::u16string& image = engine_exe,
            const std::u16string& current_directory = u"C:\\Windows\\System32");

    // A file's bytes as text; none when it does not exist.
    std::optional<std::string> text(const std::u16string& path) const;
    std::optional<std::string> report(const std::u16string& file_name) const;
    // Names in a directory, "." and ".." left out.
    std::vector<std::u16string> names(const std::u16string& dir) const;

    // A simulated process that takes and keeps the transaction mutex, and its
    // end (the mutex is then abandoned, not released).
    uint32_t hold_lock();
    void kill(uint32_t pid);

    std::unique_ptr<sim::Machine> machine;

  private:
    struct Holder {
        uint32_t pid = 0;
        std::unique_ptr<sim::ProcessOs> process;
        platform::Handle mutex;  // closed before its process goes
    };
    std::vector<Holder> holders_;
};

// The early-failure report as the contract spells it.
std::string early_report(std::string_view command, std::string_view outcome, int exit_code,
                         std::string_view reason);

}  // namespace holvar::installer::testing
