#include "txn/outcome/report_file.hpp"

#include <span>

#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/fs/durable_write.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/journal/journal.hpp"
#include "txn/outcome/report_json.hpp"

namespace holvar::txn::outcome {

using namespace platform;

namespace {

std::span<const uint8_t> as_bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The final path of an open object ("\\?\C:\..."): the object itself, not a
// way to it through links.
std::optional<std::u16string> final_path_of(Os& os, const Handle& handle) {
    Result<FinalPathName> final_path =
        os.files.get_final_path_name_by_handle(handle, PATH_BUFFER_UNITS, 0);
    if (!final_path || final_path->length == 0 || final_path->length >= PATH_BUFFER_UNITS ||
        final_path->path.empty())
        return std::nullopt;
    return std::move(final_path->path);
}

// The written report is where it was meant to be: a plain file whose final
// path is the target's.
bool written_in_place(Os& os, const std::u16string& target) {
    Result<Handle> file = os.files.create_file(target, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                               OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!file) return false;
    Result<FileBasicInfo> basic = os.files.get_file_basic_info(*file);
    if (!basic ||
        (basic->file_attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    std::optional<std::u16string> final_path = final_path_of(os, *file);
    return final_path && paths_equal(*final_path, target);
}

// Writes the report file; its full path when written.
std::optional<std::u16string> write_report_file(Os& os, const std::u16string& diagnostics_dir,
                                                const OutcomeReport& report) {
    // The txid becomes part of a file name: nothing but "none" or 32
    // lowercase hexadecimal digits may get there.
    if (report.txid != no_txid && !journal::is_valid_txid(report.txid)) return std::nullopt;
    // The engine never creates this directory, and never writes into one that
    // is missing, a link, or one that anybody but SYSTEM, Administrators or
    // TrustedInstaller owns or may change. It stays pinned while the report
    // is written, so it is still that directory when the name moves in.
    Result<Handle> pinned = txn::fs::pin_trusted_directory(os, diagnostics_dir);
    if (!pinned) return std::nullopt;
    std::optional<std::u16string> canonical = final_path_of(os, *pinned);
    if (!canonical) return std::nullopt;
    std::u16string target = join_path(*canonical, report_file_name(report));
    std::string bytes = serialize_report(report);
    if (!txn::fs::write_file_atomically(os, target, as_bytes(bytes))) return std::nullopt;
    if (!written_in_place(os, target)) return std::nullopt;
    return target;
}

}  // namespace

std::u16string report_file_name(const OutcomeReport& report) {
    std::u16string name = u"engine-";
    name += ascii_to_utf16(report.txid);
    name += u"-";
    name += ascii_to_utf16(command_name(report.command));
    name += u".json";
    return name;
}

bool write_outcome_report(Os& os, const std::optional<std::u16string>& stage_dir,
                          const std::u16string& diagnostics_dir, const OutcomeReport& report) {
    std::optional<std::u16string> written = write_report_file(os, diagnostics_dir, report);
    if (stage_dir) {
        std::string line =
            written ? utf16_to_utf8_lossy(strip_verbatim(*written)) : std::string("unavailable");
        line.push_back('\n');
        // A pointer that cannot be written leaves the report (if any) as the trace.
        (void)txn::fs::write_file_atomically(os, join_path(*stage_dir, diag_pointer_name),
                                             as_bytes(line));
    }
    return written.has_value();
}

}  // namespace holvar::txn::outcome
