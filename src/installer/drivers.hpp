// The four transaction drivers as the front end sees them: each gets the
// absolute install root (and, but for repair, the stage directory), runs its
// whole transaction, writes its report and returns the finished outcome.
#pragma once

#include <string>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::installer {

using txn::outcome::OutcomeReport;

class Drivers {
  public:
    virtual ~Drivers() = default;
    virtual OutcomeReport apply(platform::Os& os, const std::u16string& root,
                                const std::u16string& stage_dir) = 0;
    virtual OutcomeReport recover(platform::Os& os, const std::u16string& root,
                                  const std::u16string& stage_dir) = 0;
    virtual OutcomeReport remove(platform::Os& os, const std::u16string& root,
                                 const std::u16string& stage_dir, bool purge_session_vault) = 0;
    virtual OutcomeReport repair(platform::Os& os, const std::u16string& root) = 0;
};

// The drivers a real run uses: the transaction engine's own.
class EngineDrivers final : public Drivers {
  public:
    OutcomeReport apply(platform::Os& os, const std::u16string& root,
                        const std::u16string& stage_dir) override;
    OutcomeReport recover(platform::Os& os, const std::u16string& root,
                          const std::u16string& stage_dir) override;
    OutcomeReport remove(platform::Os& os, const std::u16string& root,
                         const std::u16string& stage_dir, bool purge_session_vault) override;
    OutcomeReport repair(platform::Os& os, const std::u16string& root) override;
};

}  // namespace holvar::installer
