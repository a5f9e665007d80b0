// The four transaction drivers as the front end sees them: each gets the
// absolute install root (and, but for repair, the stage directory), runs its
// whole transaction, writes its report and returns the finished outcome.
#pragma once

#include <string>

#include "installer/outcome.hpp"
#include "platform/os.hpp"

namespace holvar::installer {

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

// The drivers a real run uses. Until the transactions exist, each one refuses
// (nothing is changed on the machine) with phase "scan" and reason
// "invalid_fault", and writes that report like a driver would.
class PendingDrivers final : public Drivers {
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
