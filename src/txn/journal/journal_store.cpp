#include "txn/journal/journal_store.hpp"

#include <span>
#include <vector>

#include "platform/win_path.hpp"
#include "txn/fs/durable_write.hpp"
#include "txn/fs/owned_folder.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/test_seam.hpp"

namespace holvar::txn::journal {

namespace pf = platform;

namespace {

// A journal is tens to a few thousand operations; a file far beyond any real
// one is refused before it can exhaust memory.
constexpr size_t max_journal_bytes = size_t{1} << 30;
constexpr size_t read_chunk = 1 << 16;

pf::Status persist(pf::Os& os, const std::u16string& stage_dir, const Journal& journal) {
    // The bytes of every write go through one buffer that outlives the call:
    // a transaction writes its whole journal once per mark, and the buffer's
    // pages, once faulted in, serve each later mark (it holds the largest
    // journal written, which the next write is about to need again anyway).
    thread_local std::string bytes;
    if (auto encoded = encode_journal(journal, bytes); !encoded) return encoded;
    // The journal folder is the engine's own, and stays pinned while txn.json
    // is replaced in it: nobody else may write there, or swap the folder.
    auto folder = fs::ensure_owned_folder(os, journal_directory(stage_dir));
    if (!folder) return std::unexpected(folder.error());
    std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const bool flush = !seam::broken(seam::Breakage::journal_rename_without_flush);
    return fs::write_file_atomically(os, journal_file(stage_dir), data, flush);
}

// The journal is taken as instructions only from a folder nobody else may
// write, as a plain file with one name that nobody else may change: a journal
// that anyone could have written would let them choose what a rollback
// configures as the service.
std::expected<pf::Handle, JournalReadError> open_trusted_journal(pf::Os& os,
                                                                 const std::u16string& stage_dir) {
    const auto file_error = [](const pf::Error& e) {
        return std::unexpected(JournalReadError{JournalReadError::Kind::file, e, {}, {}});
    };
    const auto untrusted = [](std::u16string_view object) {
        JournalReadError e{JournalReadError::Kind::untrusted, {}, "untrusted journal", object};
        return std::unexpected(e);
    };
    auto folder = fs::pin_trusted_directory(os, journal_directory(stage_dir));
    if (!folder) {
        if (folder.error().kind == pf::ErrorKind::win32) return file_error(folder.error());
        return untrusted(kJournalFolderRel);
    }
    auto h = os.files.create_file(journal_file(stage_dir), pf::GENERIC_READ | pf::READ_CONTROL,
                                  pf::FILE_SHARE_READ, pf::OPEN_EXISTING, pf::OPEN_NO_FOLLOW);
    if (!h) return file_error(h.error());
    auto info = os.files.get_file_information_by_handle(*h);
    if (!info) return file_error(info.error());
    constexpr uint32_t not_plain = pf::FILE_ATTRIBUTE_DIRECTORY | pf::FILE_ATTRIBUTE_REPARSE_POINT;
    if ((info->file_attributes & not_plain) != 0 || info->number_of_links != 1 ||
        !fs::is_trusted_object(os, *h))
        return untrusted(kJournalFileRel);
    return std::move(*h);
}

// The whole file, from the handle opened above.
pf::Result<std::string> read_whole_file(pf::Os& os, const pf::Handle& h) {
    // Each read lands in a chunk of its own and the chunks are joined once at
    // the end: one string grown read by read would, while it moves, hold up
    // to three times the file, and the journal of a large runtime is large.
    std::vector<std::string> chunks;
    size_t used = 0;
    for (;;) {
        if (used > max_journal_bytes) return pf::invalid_data("journal too large");
        std::string chunk(read_chunk, '\0');
        auto got = os.files.read_file(
            h, std::span<uint8_t>(reinterpret_cast<uint8_t*>(chunk.data()), read_chunk));
        if (!got) return std::unexpected(got.error());
        if (*got == 0) break;
        chunk.resize(*got);
        used += *got;
        chunks.push_back(std::move(chunk));
    }
    std::string bytes;
    bytes.reserve(used);
    for (std::string& chunk : chunks) {
        bytes += chunk;
        std::string().swap(chunk);
    }
    return bytes;
}

}  // namespace

std::u16string journal_directory(const std::u16string& stage_dir) {
    return pf::join_path(stage_dir, u"journal");
}

std::u16string journal_file(const std::u16string& stage_dir) {
    return pf::join_path(journal_directory(stage_dir), u"txn.json");
}

pf::Status append_mark(pf::Os& os, const std::u16string& stage_dir, Journal* journal,
                       const Mark& mark) {
    if (journal == nullptr) return pf::invalid_input("missing journal");
    journal->marks.push_back(mark);
    auto written = persist(os, stage_dir, *journal);
    if (!written) journal->marks.pop_back();
    return written;
}

std::expected<Journal, JournalReadError> read_journal(pf::Os& os, const std::u16string& stage_dir) {
    auto opened = open_trusted_journal(os, stage_dir);
    if (!opened) return std::unexpected(opened.error());
    auto bytes = read_whole_file(os, *opened);
    if (!bytes) {
        if (bytes.error().has_text("journal too large")) {
            return std::unexpected(
                JournalReadError{JournalReadError::Kind::corrupt, {}, "journal too large", {}});
        }
        return std::unexpected(
            JournalReadError{JournalReadError::Kind::file, bytes.error(), {}, {}});
    }
    auto journal = decode_journal(*bytes);
    if (!journal) {
        auto kind = journal.error().problem == JournalProblem::unsupported
                        ? JournalReadError::Kind::unsupported
                        : JournalReadError::Kind::corrupt;
        return std::unexpected(JournalReadError{kind, {}, journal.error().detail, {}});
    }
    return std::move(*journal);
}

bool journal_is_unfinished(pf::Os& os, const std::u16string& stage_dir) {
    auto journal = read_journal(os, stage_dir);
    if (!journal) {
        // Only a journal that is positively absent lets the stage directory go.
        // A missing journal folder (path not found) is absent too.
        return !journal.error().is_not_found();
    }
    return !journal->has_ended();
}

}  // namespace holvar::txn::journal
