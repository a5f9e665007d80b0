#include "explain/read_file.hpp"

#include <vector>

#include "platform/win_path.hpp"
#include "txn/journal/journal_store.hpp"

namespace holvar::explain {

namespace p = platform;

namespace {

// A journal is at most what the engine itself agrees to read back.
constexpr size_t kMaxBytes = size_t{1} << 30;
constexpr size_t kChunk = size_t{1} << 16;

Unexplained cannot_read(const std::string& shown, const p::Error& error) {
    std::string why = error.kind == p::ErrorKind::win32
                          ? "win32 error " + std::to_string(error.win32)
                          : std::string(error.text);
    return Unexplained{"cannot read " + shown + " (" + why + ")"};
}

}  // namespace

Unexplained no_journal(const std::string& shown) {
    return Unexplained{shown + " holds no journal\\txn.json: no transaction of it is unfinished"};
}

std::expected<std::string, Unexplained> read_explained_file(p::Os& os, const std::u16string& path,
                                                            const std::string& shown) {
    auto full = os.files.get_full_path_name(path);
    if (!full) return std::unexpected(cannot_read(shown, full.error()));
    std::u16string file = *full;
    bool stage_directory = false;
    {
        // Attributes only, sharing everything: is it a folder?
        auto object = os.files.create_file(file, p::FILE_READ_ATTRIBUTES, p::FILE_SHARE_ALL,
                                           p::OPEN_EXISTING, p::FILE_FLAG_BACKUP_SEMANTICS);
        if (!object) return std::unexpected(cannot_read(shown, object.error()));
        auto basic = os.files.get_file_basic_info(*object);
        if (!basic) return std::unexpected(cannot_read(shown, basic.error()));
        stage_directory = (basic->file_attributes & p::FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (stage_directory) file = txn::journal::journal_file(file);
    }
    auto handle = os.files.create_file(file, p::GENERIC_READ, p::FILE_SHARE_ALL, p::OPEN_EXISTING,
                                       p::FILE_FLAG_OPEN_REPARSE_POINT);
    if (!handle) {
        const p::Error& e = handle.error();
        if (stage_directory &&
            (e.is_win32(p::win32::file_not_found) || e.is_win32(p::win32::path_not_found)))
            return std::unexpected(no_journal(shown));
        return std::unexpected(cannot_read(shown, e));
    }
    std::string bytes;
    std::vector<uint8_t> chunk(kChunk);
    for (;;) {
        auto got = os.files.read_file(*handle, chunk);
        if (!got) return std::unexpected(cannot_read(shown, got.error()));
        if (*got == 0) break;
        if (bytes.size() + *got > kMaxBytes)
            return std::unexpected(Unexplained{shown + " is too large for a journal or a report"});
        bytes.append(reinterpret_cast<const char*>(chunk.data()), *got);
    }
    return bytes;
}

}  // namespace holvar::explain
