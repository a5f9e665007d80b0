// The machine-wide transaction lock: one engine run at a time, across every
// session of the machine. Taken without waiting; held until the process ends.
#pragma once

#include <cstdint>

#include "platform/os.hpp"

namespace holvar::installer {

inline constexpr std::u16string_view transaction_mutex_name =
    u"Global\\Holvar.ManagedInstaller.Transaction.v3";

enum class LockState : uint8_t { held, busy, failed };

struct TransactionLock {
    LockState state = LockState::failed;
    // Open only while held: the lock ends when this handle's process ends, so
    // the caller keeps it alive for the whole run.
    platform::Handle handle;
    uint32_t win32 = 0;  // the failure's code, when failed
};

TransactionLock take_transaction_lock(platform::Os& os);

}  // namespace holvar::installer
