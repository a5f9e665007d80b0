#include "txn/drivers/repair.hpp"

#include "managed_v3/identity/path_walk.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/root_match.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/drivers/unfinished_scan.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/outcome/report_file.hpp"
#include "txn/registry/registry.hpp"
#include "txn/scm/scm.hpp"
#include "txn/verify/verify_started_service.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using outcome::OutcomeKind;
using outcome::OutcomeReport;

namespace {

struct RepairEnd {
    OutcomeKind outcome = OutcomeKind::repaired;
    StepResult failure;
};

class RepairRun {
  public:
    RepairRun(p::Os& os, const std::u16string& root)
        : os_(os),
          root_(root),
          image_(p::join_path(p::join_path(root, u"resources"), u"holvar-service.exe")) {}

    // Every step in order; each runs only when all before it succeeded. Until
    // the configuration is applied nothing has changed, so every refusal
    // leaves the machine as it was.
    RepairEnd run() {
        if (transaction_may_be_unfinished(os_, root_))
            return RepairEnd{OutcomeKind::recovery_required, std::nullopt};
        StepResult failure = check_root();
        if (!failure) failure = check_service_belongs_here();
        if (!failure) failure = check_image_path();
        if (!failure) failure = configure();
        if (!failure) failure = start_and_verify();
        if (failure) return RepairEnd{OutcomeKind::refused, std::move(failure)};
        return RepairEnd{};
    }

  private:
    // A real directory that only the system or the administrators own, and a
    // name the service configuration can carry.
    StepResult check_root() {
        if (auto trusted = fs::is_trusted_directory(os_, root_); !trusted)
            return fault_of(trusted.error(), Phase::repair, FaultReason::unsafe_object);
        if (!p::is_valid_utf16(root_))
            return plain_fault(Phase::repair, FaultReason::unsafe_object);
        return std::nullopt;
    }

    // A service or a recorded install location that names another root is
    // another installation's: repairing from here would take it over. The
    // service is read whatever its run state: one caught starting or
    // stopping is still the service to repair.
    StepResult check_service_belongs_here() {
        auto queried = scm::scm_query(os_);
        if (!queried) return fault_of(queried.error(), Phase::repair, FaultReason::scm_error);
        scm::ScmSnapshot service;
        if (*queried) service.config = (*queried)->config;
        auto location = registry::registry_read_install_location(os_);
        if (!location)
            return fault_of(location.error(), Phase::repair, FaultReason::registry_failed);
        if (!root_matches(root_, service, *location))
            return plain_fault(Phase::repair, FaultReason::root_mismatch);
        return std::nullopt;
    }

    // The service runs as LocalSystem from the image the configuration names:
    // every folder on the way to it and the image itself must be ones that
    // nobody but the system and the administrators can change, or the repair
    // would hand the system account to whoever can.
    StepResult check_image_path() {
        auto walked = v3::walk_trusted_path(os_, image_);
        if (walked) return std::nullopt;
        Fault f = plain_fault(Phase::repair, FaultReason::unsafe_object);
        f.win32 = walked.error().win32;
        return f;
    }

    // A running service keeps running: the new configuration applies to its
    // next start, and the verification proves the one running now.
    StepResult configure() {
        if (auto applied = scm::scm_apply(os_, scm::desired_scm_config(root_)); !applied)
            return fault_of(applied.error(), Phase::repair, FaultReason::scm_error);
        return std::nullopt;
    }

    StepResult start_and_verify() {
        v3::V3Status verified = verify::verify_started_service(os_, image_);
        if (verified) return std::nullopt;
        Fault f = plain_fault(Phase::repair, FaultReason::verify_failed);
        f.win32 = verified.error().win32_code();
        return f;
    }

    p::Os& os_;
    const std::u16string& root_;
    std::u16string image_;
};

}  // namespace

OutcomeReport repair(p::Os& os, const std::u16string& root) {
    auto absolute = os.files.get_full_path_name(root);
    const std::u16string& used = absolute ? *absolute : root;

    RepairEnd end = RepairRun(os, used).run();
    OutcomeReport report;
    report.command = outcome::Command::repair;
    report.outcome = end.outcome;
    report.primary = std::move(end.failure);

    // Beside the root, as every run's; a root that could not be made absolute
    // or has no parent gives no place a report may go.
    if (absolute) {
        if (std::optional<std::u16string> parent = p::parent_path(*absolute))
            (void)outcome::write_outcome_report(
                os, std::nullopt, p::join_path(*parent, diagnostics_dir_name), report);
    }
    return report;
}

}  // namespace holvar::txn::drivers
