#include "txn/quiesce/holders.hpp"

#include "platform/win_path.hpp"

namespace holvar::txn::quiesce {

namespace p = holvar::platform;

namespace {

constexpr int kListTries = 8;

bool is_high(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Ends the session on every path; `end()` reports how ending went.
class RmSession {
  public:
    RmSession(p::Os& os, uint32_t id) : os_(os), id_(id) {}
    RmSession(const RmSession&) = delete;
    RmSession& operator=(const RmSession&) = delete;
    ~RmSession() {
        if (open_) (void)os_.restart_manager.rm_end_session(id_);
    }
    uint32_t id() const { return id_; }
    p::Status end() {
        open_ = false;
        return os_.restart_manager.rm_end_session(id_);
    }

  private:
    p::Os& os_;
    uint32_t id_;
    bool open_ = true;
};

p::Result<std::vector<outcome::ProcessEntry>> query(p::Os& os, const RmSession& session,
                                                    const std::u16string& path) {
    if (auto r = os.restart_manager.rm_register_resources(session.id(), {path}); !r)
        return std::unexpected(r.error());
    // The list can grow between the call that sizes it and the call that
    // fills it (a process opens the file meanwhile): then the second call
    // answers ERROR_MORE_DATA again, with the new count, and is asked again.
    // A list that keeps growing past every try fails the query.
    p::RmList list = os.restart_manager.rm_get_list(session.id(), 0);
    for (int tries = 0; list.status == p::win32::more_data && tries < kListTries; ++tries)
        list = os.restart_manager.rm_get_list(session.id(), list.proc_info_needed);
    if (list.status != 0) return p::win32_error(list.status);
    std::vector<outcome::ProcessEntry> holders;
    // The engine may hold the file itself (the handle of the deletion that
    // failed): it is never one of the programs a person has to close.
    const uint32_t engine = os.processes.get_current_process_id();
    for (const p::RmProcessInfo& record : list.records) {
        if (record.process_id == engine) continue;
        auto process = os.processes.open_process(p::PROCESS_QUERY_LIMITED_INFORMATION, false,
                                                 record.process_id);
        if (!process) return std::unexpected(process.error());
        auto image = os.processes.query_full_process_image_name(*process, 0, kImageUnits);
        if (!image) return std::unexpected(image.error());
        holders.push_back(outcome::ProcessEntry{record.process_id, image_file_name(*image)});
    }
    return holders;
}

}  // namespace

std::u16string image_file_name(std::u16string_view image) {
    size_t cut = image.find_last_of(u"\\/");
    std::u16string_view name = cut == std::u16string_view::npos ? image : image.substr(cut + 1);
    std::u16string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (is_high(c) && i + 1 < name.size() && is_low(name[i + 1])) {
            out.push_back(c);
            out.push_back(name[++i]);
        } else {
            out.push_back(is_high(c) || is_low(c) ? u'\xFFFD' : c);
        }
    }
    return out;
}

p::Result<std::vector<outcome::ProcessEntry>> list_file_holders(p::Os& os,
                                                                std::u16string_view path) {
    if (path.find(u'\0') != std::u16string_view::npos)
        return p::win32_error(p::win32::invalid_parameter);
    auto started = os.restart_manager.rm_start_session();
    if (!started) return std::unexpected(started.error());
    RmSession session(os, *started);
    auto holders = query(os, session, std::u16string(path));
    if (auto ended = session.end(); !ended) return std::unexpected(ended.error());
    return holders;
}

}  // namespace holvar::txn::quiesce
