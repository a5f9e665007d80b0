#include "explain/render.hpp"
#include "explain/wording.hpp"

namespace holvar::explain {

namespace {

using txn::drivers::RecoveryDecision;

class Lines {
  public:
    void add(const std::string& line) { text_ += line + "\n"; }
    std::string take() { return std::move(text_); }

  private:
    std::string text_;
};

std::string decision_line(std::string_view lead, RecoveryDecision decision) {
    return std::string(lead) + std::string(decision_name(decision)) + ": " +
           std::string(decision_story(decision));
}

std::string service_words(const MachineAnswers& m) {
    if (!m.service) return "unreadable (" + m.service_error + ")";
    switch (*m.service) {
        case ServiceSeen::installed:
            return "installed (" + m.service_state + ", start " + m.service_start + ", image " +
                   m.service_image + ")";
        case ServiceSeen::marked_for_delete:
            return "marked for deletion (recovery counts it as absent)";
        case ServiceSeen::absent:
            return "absent";
    }
    return "unknown";
}

std::string lock_line(const MachineAnswers& m) {
    if (!m.lock) return "the transaction lock could not be looked at (" + m.lock_error + ")";
    if (*m.lock == LockSeen::free) return "the transaction lock is free: no engine runs now";
    return "the transaction lock is held: an engine runs now, --recover would end busy (12) "
           "until it ends, and its work may change the answer below";
}

void journal_lines(const JournalExplanation& e, Lines& out) {
    out.add(std::string("a journal of ") +
            (e.removal ? "a removal (--remove)" : "an install or upgrade (--apply)") + ", txid " +
            e.txid);
    out.add("root " + e.root + ", " + std::to_string(e.operations) + " file operation(s) planned");
    std::string marks;
    for (const auto mark : e.marks)
        marks += (marks.empty() ? "" : " ") + std::string(txn::journal::mark_name(mark));
    out.add("marks reached: " + (marks.empty() ? std::string("none") : marks));
    if (e.marks.empty()) {
        out.add("the last run: stopped before its first mark");
    } else {
        out.add(
            "the last run: " + std::string(mark_story(e.marks.back())) +
            (e.ended ? "; the transaction has ended" : ", then stopped (a crash or a power cut)"));
    }
    if (e.machine) {
        const MachineAnswers& m = *e.machine;
        out.add("on this machine the service is " + service_words(m) + " and the root is " +
                (m.root ? std::string(root_state_words(*m.root))
                        : "unreadable (" + m.root_error + ")"));
        out.add(lock_line(m));
    }
    if (!e.assumed_root) {
        out.add(decision_line("--recover would decide ", e.decision));
        return;
    }
    out.add(
        "assuming the service is installed and the root is " +
        std::string(root_state_words(*e.assumed_root)) +
        (e.machine ? " (the machine could not answer in full):" : " (the machine was not asked):"));
    out.add(decision_line("--recover would decide ", e.decision));
    for (const DecisionVariant& v : e.variants)
        out.add(decision_line("  " + std::string(v.when) + ": ", v.decision));
}

void report_lines(const ReportExplanation& e, Lines& out) {
    out.add("an outcome report of --" + e.command + ", txid " +
            (e.txid.empty() ? std::string("(none)") : e.txid));
    out.add("outcome " + std::string(txn::outcome::outcome_name(e.outcome)) + ", exit code " +
            std::to_string(e.exit_code));
    out.add("what went wrong first: " + fault_text(e.primary));
    out.add("what recovery hit: " + fault_text(e.recovery_error));
    if (!e.holders.empty()) {
        std::string list;
        for (const std::string& image : e.holders) list += (list.empty() ? "" : ", ") + image;
        out.add("processes holding files: " + list);
    }
    if (e.reboot_pending > 0)
        out.add(std::to_string(e.reboot_pending) + " object(s) wait for a restart to be deleted");
    out.add("what to do next: " + std::string(next_step(e.outcome)));
    out.add("a report records no marks: the journal txn.json in the stage directory has them");
}

}  // namespace

std::string render_text(const Explanation& explanation) {
    Lines out;
    if (const auto* journal = std::get_if<JournalExplanation>(&explanation))
        journal_lines(*journal, out);
    else
        report_lines(std::get<ReportExplanation>(explanation), out);
    return out.take();
}

}  // namespace holvar::explain
