#include "installer/drivers.hpp"
#include "txn/drivers/apply.hpp"
#include "txn/drivers/recover.hpp"
#include "txn/drivers/remove.hpp"
#include "txn/drivers/repair.hpp"

namespace holvar::installer {

using namespace platform;
using namespace txn::outcome;

OutcomeReport EngineDrivers::apply(Os& os, const std::u16string& root,
                                   const std::u16string& stage_dir) {
    return txn::drivers::apply(os, root, stage_dir);
}

OutcomeReport EngineDrivers::recover(Os& os, const std::u16string& root,
                                     const std::u16string& stage_dir) {
    return txn::drivers::recover(os, root, stage_dir);
}

OutcomeReport EngineDrivers::remove(Os& os, const std::u16string& root,
                                    const std::u16string& stage_dir, bool purge_session_vault) {
    return txn::drivers::remove(os, root, stage_dir, purge_session_vault);
}

OutcomeReport EngineDrivers::repair(Os& os, const std::u16string& root) {
    return txn::drivers::repair(os, root);
}

}  // namespace holvar::installer
