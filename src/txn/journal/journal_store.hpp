// The journal on disk: <stage directory>\journal\txn.json. Appending a mark is
// the only way a journal reaches disk; reading it back is strict; a stage
// directory counts as finished only when its journal positively says so.
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "platform/error.hpp"
#include "platform/os.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::txn::journal {

// <stage directory>\journal and <stage directory>\journal\txn.json.
std::u16string journal_directory(const std::u16string& stage_dir);
std::u16string journal_file(const std::u16string& stage_dir);

// Pushes `mark` onto `journal` and rewrites txn.json with the whole journal
// (through "txn.json.tmp", flushed, moved over with write-through). On any
// failure the mark is popped again, so memory and disk keep agreeing: invalid
// input "missing journal" when there is no journal (null), "invalid journal"
// when it fails validation, or the Win32 error of the folder creation or the
// write ("foreign_identity" when the journal folder found is not the engine's
// own). The journal is the transaction context's; any slot that can hand out
// a pointer to it will do.
platform::Status append_mark(platform::Os& os, const std::u16string& stage_dir, Journal* journal,
                             const Mark& mark);
inline platform::Status append_mark(platform::Os& os, const std::u16string& stage_dir,
                                    std::optional<Journal>& slot, const Mark& mark) {
    return append_mark(os, stage_dir, slot ? &*slot : nullptr, mark);
}

// Why a journal could not be read: the file's error (a missing file is the
// not-found Win32 error), or the defect that decoding found.
// The objects a journal that may not be trusted names, relative to the stage.
inline constexpr std::u16string_view kJournalFolderRel = u"journal";
inline constexpr std::u16string_view kJournalFileRel = u"journal\\txn.json";

struct JournalReadError {
    // untrusted: the journal folder or file is one that somebody other than
    // the system and the administrators could have written; never acted on.
    enum class Kind : uint8_t { file, unsupported, corrupt, untrusted };
    Kind kind = Kind::file;
    platform::Error file_error;  // kind file
    std::string_view detail;     // unsupported, corrupt or untrusted
    std::u16string_view object;  // untrusted: kJournalFolderRel or kJournalFileRel

    bool is_not_found() const {
        return kind == Kind::file && (file_error.is_win32(platform::win32::file_not_found) ||
                                      file_error.is_win32(platform::win32::path_not_found));
    }
};

std::expected<Journal, JournalReadError> read_journal(platform::Os& os,
                                                      const std::u16string& stage_dir);

// False only when txn.json does not exist or holds a journal that has ended;
// a journal that cannot be read or decoded counts as unfinished.
bool journal_is_unfinished(platform::Os& os, const std::u16string& stage_dir);

}  // namespace holvar::txn::journal
