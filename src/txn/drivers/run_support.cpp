#include "txn/drivers/run_support.hpp"

#include "txn/journal/journal_store.hpp"
#include "txn/quiesce/holders.hpp"

namespace holvar::txn::drivers {

platform::Status write_mark(platform::Os& os, TransactionContext& ctx, const journal::Mark& mark) {
    return journal::append_mark(os, ctx.stage_dir, ctx.journal, mark);
}

void record_holders(platform::Os& os, TransactionContext& ctx, std::u16string_view path) {
    auto holders = quiesce::list_file_holders(os, path);
    outcome::HolderReport report;
    if (holders) {
        report.status = outcome::HolderStatus::ok;
        report.processes = std::move(*holders);
    } else {
        report.status = outcome::HolderStatus::query_failed;
        if (holders.error().kind == platform::ErrorKind::win32)
            report.win32 = holders.error().win32;
    }
    ctx.holders = std::move(report);
}

}  // namespace holvar::txn::drivers
