// What the live machine answers to the questions `--recover` asks (is the
// service installed, what stands at the root) and whether an engine runs now,
// read the way recovery reads them and changing nothing: the service through
// query-only handles, the root through an attribute-only open that shares
// everything, and the transaction lock looked at, never taken.
#pragma once

#include <optional>
#include <string>

#include "platform/os.hpp"
#include "txn/drivers/recover.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::explain {

enum class ServiceSeen : uint8_t { installed, marked_for_delete, absent };
enum class LockSeen : uint8_t { free, busy };

// Each answer is none when it could not be read; its text then says why.
struct MachineAnswers {
    std::optional<ServiceSeen> service;
    std::string service_error;
    // An installed service: how it runs and starts, and its image path as the
    // service manager holds it (UTF-8, quotes included).
    std::string service_state;  // "running", "stopped", "changing"
    std::string service_start;  // "auto", "demand", "disabled", ...
    std::string service_image;
    std::optional<txn::drivers::RootState> root;
    std::string root_error;
    std::optional<LockSeen> lock;
    std::string lock_error;

    // Recovery counts a service marked for deletion as absent.
    bool service_present() const { return service == ServiceSeen::installed; }
    bool complete() const { return service && root; }
};

// The root recorded by the journal: its identity at the start, or the one a
// fresh install recorded when it created the root.
std::optional<txn::journal::FileId> recorded_root_id(const txn::journal::Journal& journal);

MachineAnswers ask_machine(platform::Os& os, const txn::journal::Journal& journal);

}  // namespace holvar::explain
