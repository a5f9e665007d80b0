// Which file it is: a journal (it has marks and operations), decoded strictly
// by the engine's own decoder, or an outcome report; anything else is foreign.
#include "explain/explain_report.hpp"
#include "explain/explanation.hpp"
#include "txn/journal/journal_codec.hpp"

namespace holvar::explain {

std::expected<Explanation, Unexplained> explain_bytes(std::string_view bytes,
                                                      const std::string& name, platform::Os* live) {
    const auto document = nlohmann::json::parse(bytes, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return std::unexpected(
            Unexplained{name + " is neither a journal nor an outcome report: not a JSON object"});
    if (document.contains("marks") && document.contains("ops")) {
        const auto journal = txn::journal::decode_journal(bytes);
        if (!journal) {
            const bool unsupported =
                journal.error().problem == txn::journal::JournalProblem::unsupported;
            return std::unexpected(
                Unexplained{"journal " + name + " is " +
                            (unsupported ? "of an unsupported format: " : "damaged: ") +
                            std::string(journal.error().detail)});
        }
        return explain_journal(*journal, live);
    }
    if (document.contains("outcome")) {
        auto report = explain_report(document, name);
        if (!report) return std::unexpected(report.error());
        return std::move(*report);
    }
    return std::unexpected(Unexplained{name + " is neither a journal nor an outcome report"});
}

}  // namespace holvar::explain
