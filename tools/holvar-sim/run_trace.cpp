#include "run_trace.hpp"

#include "platform/win_path.hpp"
#include "txn/journal/journal_codec.hpp"

namespace holvar::simtool {

namespace p = platform;

namespace {

constexpr std::u16string_view kJournalTail = u"\\journal\\txn.json";

bool is_payload_path(std::u16string_view path) {
    return path.find(u"\\payload\\") != std::u16string_view::npos;
}

}  // namespace

TracingFiles::TracingFiles(p::Files& inner, const sim::Machine& machine, std::u16string root,
                           RunTrace& trace)
    : inner_(inner), machine_(machine), root_(std::move(root)), trace_(trace) {}

p::Result<p::Handle> TracingFiles::create_file(const std::u16string& path, uint32_t access,
                                               uint32_t share, uint32_t disposition, uint32_t flags,
                                               const p::SecurityDescriptor* sd) {
    auto h = inner_.create_file(path, access, share, disposition, flags, sd);
    if (h) paths_[h->raw()] = path;
    return h;
}

p::Result<p::FileBasicInfo> TracingFiles::get_file_basic_info(const p::Handle& h) {
    return inner_.get_file_basic_info(h);
}

p::Result<p::FileIdInfo> TracingFiles::get_file_id_info(const p::Handle& h) {
    return inner_.get_file_id_info(h);
}

p::Result<p::ByHandleFileInformation> TracingFiles::get_file_information_by_handle(
    const p::Handle& h) {
    return inner_.get_file_information_by_handle(h);
}

p::Result<p::FinalPathName> TracingFiles::get_final_path_name_by_handle(const p::Handle& h,
                                                                        uint32_t buffer_units,
                                                                        uint32_t flags) {
    return inner_.get_final_path_name_by_handle(h, buffer_units, flags);
}

p::Result<uint32_t> TracingFiles::write_file(const p::Handle& h, std::span<const uint8_t> bytes) {
    auto written = inner_.write_file(h, bytes);
    if (written) {
        auto it = paths_.find(h.raw());
        if (it != paths_.end() &&
            (p::path_lies_under(it->second, root_) || is_payload_path(it->second)))
            trace_.bytes_copied += *written;
    }
    return written;
}

p::Result<uint32_t> TracingFiles::read_file(const p::Handle& h, std::span<uint8_t> buffer) {
    return inner_.read_file(h, buffer);
}

p::Status TracingFiles::flush_file_buffers(const p::Handle& h) {
    return inner_.flush_file_buffers(h);
}

// The marks are read at the very call that moved the journal into place,
// also when a power cut strikes at that call: its move is on disk then, and
// a crash point found from this trace must name the call that wrote the mark.
p::Status TracingFiles::move_file_ex(const std::u16string& from, const std::u16string* to,
                                     uint32_t flags) {
    const bool journal = to != nullptr && to->ends_with(kJournalTail);
    try {
        p::Status moved = inner_.move_file_ex(from, to, flags);
        if (moved && journal) read_marks(*to);
        return moved;
    } catch (const sim::CrashInjected&) {
        if (journal) read_marks(*to);
        throw;
    }
}

void TracingFiles::read_marks(const std::u16string& journal_path) {
    auto bytes = machine_.read_file(journal_path);
    if (!bytes) return;
    std::string text(bytes->begin(), bytes->end());
    auto journal = txn::journal::decode_journal(text);
    if (!journal) return;
    trace_.marks.clear();
    for (const txn::journal::Mark& mark : journal->marks)
        trace_.marks.emplace_back(txn::journal::mark_name(mark.kind));
}

p::Status TracingFiles::create_directory(const std::u16string& path,
                                         const p::SecurityDescriptor* sd) {
    return inner_.create_directory(path, sd);
}

p::Status TracingFiles::set_file_rename_info_ex(const p::Handle& h, const std::u16string& target,
                                                uint32_t flags) {
    p::Status renamed = inner_.set_file_rename_info_ex(h, target, flags);
    if (renamed) ++trace_.moved;
    return renamed;
}

p::Status TracingFiles::set_file_disposition_info_ex(const p::Handle& h, uint32_t flags) {
    return inner_.set_file_disposition_info_ex(h, flags);
}

p::Status TracingFiles::create_hard_link(const std::u16string& link,
                                         const std::u16string& existing) {
    return inner_.create_hard_link(link, existing);
}

p::Result<std::vector<p::FindData>> TracingFiles::find_files(const std::u16string& pattern) {
    return inner_.find_files(pattern);
}

p::Result<std::u16string> TracingFiles::get_volume_path_name(const std::u16string& path,
                                                             uint32_t buffer_units) {
    return inner_.get_volume_path_name(path, buffer_units);
}

p::Result<uint32_t> TracingFiles::get_volume_file_system_flags(const std::u16string& root) {
    return inner_.get_volume_file_system_flags(root);
}

p::Result<std::u16string> TracingFiles::get_full_path_name(const std::u16string& path) {
    return inner_.get_full_path_name(path);
}

std::string marks_text(const RunTrace& trace) {
    if (trace.marks.empty()) return "-";
    std::string out;
    for (const std::string& mark : trace.marks) {
        if (!out.empty()) out += ' ';
        out += mark;
    }
    return out;
}

}  // namespace holvar::simtool
