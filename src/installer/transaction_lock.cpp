#include "installer/transaction_lock.hpp"

namespace holvar::installer {

using namespace platform;

TransactionLock take_transaction_lock(Os& os) {
    TransactionLock lock;
    Result<CreatedMutex> created =
        os.sync.create_mutex(std::u16string(transaction_mutex_name), /*initial_owner=*/false);
    if (!created) {
        lock.win32 = created.error().win32;
        return lock;
    }
    Result<uint32_t> waited = os.sync.wait_for_single_object(created->handle, 0);
    if (!waited) {
        lock.win32 = waited.error().win32;
        return lock;  // the mutex handle closes here
    }
    switch (*waited) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            // An abandoned mutex is ours now: its owner died. Whatever that
            // run left unfinished is found through its journal.
            lock.state = LockState::held;
            lock.handle = std::move(created->handle);
            return lock;
        case WAIT_TIMEOUT:
            lock.state = LockState::busy;
            return lock;
        default:
            lock.win32 = *waited;
            return lock;
    }
}

}  // namespace holvar::installer
