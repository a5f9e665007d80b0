#include "explain/machine_answers.hpp"

#include "installer/transaction_lock.hpp"
#include "platform/unicode.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/scm/scm.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::explain {

namespace p = platform;
using txn::drivers::RootState;

namespace {

std::string error_text(const p::Error& error) {
    if (error.kind == p::ErrorKind::win32) return "win32 error " + std::to_string(error.win32);
    return std::string(error.text);
}

void ask_service(p::Os& os, MachineAnswers& answers) {
    // SC_MANAGER_CONNECT and SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS only.
    auto queried = txn::scm::scm_query(os);
    if (queried && queried->has_value()) {
        const txn::scm::QueriedService& found = **queried;
        answers.service = ServiceSeen::installed;
        answers.service_state = found.state == txn::scm::ServiceRunState::running   ? "running"
                                : found.state == txn::scm::ServiceRunState::stopped ? "stopped"
                                                                                    : "changing";
        answers.service_start = found.config.start_type;
        answers.service_image = p::utf16_to_utf8_lossy(found.config.binary_path);
    } else if (queried) {
        answers.service = ServiceSeen::absent;
    } else if (queried.error().is_win32(p::win32::service_marked_for_delete)) {
        answers.service = ServiceSeen::marked_for_delete;
    } else {
        answers.service_error = error_text(queried.error());
    }
}

void ask_root(p::Os& os, const txn::journal::Journal& journal, MachineAnswers& answers) {
    // FILE_READ_ATTRIBUTES, every share mode, the link itself: as recovery
    // probes it, and never in the way of a running engine.
    auto probe = txn::fs::probe_path(os, journal.root.path);
    if (!probe) {
        answers.root_error = error_text(probe.error());
        return;
    }
    if (probe->kind == txn::fs::ObjectKind::absent) {
        answers.root = RootState::absent;
    } else if (probe->kind != txn::fs::ObjectKind::directory) {
        answers.root = RootState::foreign;
    } else if (const auto recorded = recorded_root_id(journal)) {
        answers.root = probe->id == *recorded ? RootState::matches : RootState::foreign;
    } else {
        auto entries = txn::tree::list_directory(os, journal.root.path);
        if (!entries) {
            answers.root_error = error_text(entries.error());
            return;
        }
        answers.root = entries->empty() ? RootState::empty : RootState::not_empty;
    }
}

// The engine holds the named mutex's only handles for its whole run, so the
// mutex exists exactly while an engine runs. Creating it without ownership and
// never waiting on it tells which, and takes nothing: an engine starting
// meanwhile still acquires it at once. The handle closes on return.
void ask_lock(p::Os& os, MachineAnswers& answers) {
    auto mutex = os.sync.create_mutex(std::u16string(installer::transaction_mutex_name), false);
    if (!mutex) {
        answers.lock_error = error_text(mutex.error());
        return;
    }
    answers.lock = mutex->already_existed ? LockSeen::busy : LockSeen::free;
}

}  // namespace

std::optional<txn::journal::FileId> recorded_root_id(const txn::journal::Journal& journal) {
    std::optional<txn::journal::FileId> recorded = journal.root.file_id;
    for (const auto& mark : journal.marks)
        if (mark.kind == txn::journal::MarkKind::root_created) recorded = mark.root_id;
    return recorded;
}

MachineAnswers ask_machine(p::Os& os, const txn::journal::Journal& journal) {
    MachineAnswers answers;
    ask_lock(os, answers);
    ask_service(os, answers);
    ask_root(os, journal, answers);
    return answers;
}

}  // namespace holvar::explain
