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

// The final path of the opened directory ("\\?\C:\..."), so the report's
// path names the directory itself, not a way to it through links.
std::optional<std::u16string> canonical_directory(Os& os, const std::u16string& path) {
    Result<Handle> dir = os.files.create_file(path, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                              OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!dir) return std::nullopt;
    Result<FinalPathName> final_path =
        os.files.get_final_path_name_by_handle(*dir, PATH_BUFFER_UNITS, 0);
    if (!final_path || final_path->length == 0 || final_path->length >= PATH_BUFFER_UNITS ||
        final_path->path.empty())
        return std::nullopt;
    return std::move(final_path->path);
}

// Writes the report file; its full path when written.
std::optional<std::u16string> write_report_file(Os& os, const std::u16string& diagnostics_dir,
                                                const OutcomeReport& report) {
    // The txid becomes part of a file name: nothing but "none" or 32
    // lowercase hexadecimal digits may get there.
    if (report.txid != no_txid && !journal::is_valid_txid(report.txid)) return std::nullopt;
    // The engine never creates this directory, and never writes into one that
    // is missing, a link, or owned by anyone but SYSTEM or Administrators.
    if (!txn::fs::is_trusted_directory(os, diagnostics_dir)) return std::nullopt;
    std::optional<std::u16string> canonical = canonical_directory(os, diagnostics_dir);
    if (!canonical) return std::nullopt;
    std::u16string target = join_path(*canonical, report_file_name(report));
    std::string bytes = serialize_report(report);
    if (!txn::fs::write_file_atomically(os, target, as_bytes(bytes))) return std::nullopt;
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
