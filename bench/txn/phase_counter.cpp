#include "phase_counter.hpp"

#include <algorithm>
#include <string_view>

#include "heap_meter.hpp"
#include "platform/win_path.hpp"

namespace holvar::bench {

namespace p = platform;

namespace {

constexpr uint32_t kWriteAccess = p::GENERIC_WRITE | 0x10000000 /* GENERIC_ALL */ |
                                  0x2 /* FILE_WRITE_DATA */ | 0x4 /* FILE_APPEND_DATA */;
constexpr size_t kTailBytes = 64;

struct MarkPhase {
    std::string_view mark;
    TxnPhase starts;
};

// Which phase begins once a mark is on disk.
constexpr MarkPhase kMarkPhases[] = {
    {"planned", TxnPhase::place},
    {"root_created", TxnPhase::place},
    {"fenced", TxnPhase::place},
    {"placing", TxnPhase::place},
    {"configured", TxnPhase::verify},
    {"committed", TxnPhase::finalize},
    {"finalizing", TxnPhase::finalize},
    {"finalized", TxnPhase::cleanup},
    {"rolling_back", TxnPhase::place},
    {"rolled_back", TxnPhase::cleanup},
    {"aborted", TxnPhase::cleanup},
    {"service_deleted", TxnPhase::place},
    {"service_delete_pending", TxnPhase::place},
    {"runtime_retired", TxnPhase::place},
    {"maintenance_done", TxnPhase::place},
    {"tree_done", TxnPhase::finalize},
    {"registry_done", TxnPhase::finalize},
    {"uninstall_key_deleted", TxnPhase::finalize},
    {"root_done", TxnPhase::finalize},
};

// The last mark of an encoded journal: its text ends `..."name"]}` (a
// created root's mark carries ":<id>" after its name).
std::string_view last_mark(std::string_view tail) {
    size_t close = tail.rfind('"');
    if (close == std::string_view::npos || close == 0) return {};
    size_t open = tail.rfind('"', close - 1);
    if (open == std::string_view::npos) return {};
    std::string_view name = tail.substr(open + 1, close - open - 1);
    return name.substr(0, name.find(':'));
}

}  // namespace

const char* phase_name(TxnPhase phase) {
    static const char* const names[kPhaseCount] = {"scan",   "plan",     "place",
                                                   "verify", "finalize", "cleanup"};
    return names[static_cast<size_t>(phase)];
}

uint64_t RunCounts::total_calls() const {
    uint64_t sum = 0;
    for (uint64_t c : calls) sum += c;
    return sum;
}

PhaseCounter::PhaseCounter(p::Files& inner, sim::Machine& machine, std::u16string root,
                           std::u16string stage, RunCounts& counts)
    : inner_(inner),
      machine_(machine),
      root_(std::move(root)),
      stage_(std::move(stage)),
      journal_dir_(p::join_path(stage_, u"journal")),
      contents_dirs_{p::join_path(stage_, u"payload"), p::join_path(stage_, u"rollback"),
                     p::join_path(stage_, u"trash")},
      counts_(counts),
      phase_start_(machine.boundary_calls()) {}

void PhaseCounter::enter(TxnPhase phase) {
    uint64_t now = machine_.boundary_calls();
    counts_.calls[static_cast<size_t>(phase_)] += now - phase_start_;
    phase_start_ = now;
    phase_ = phase;
}

void PhaseCounter::finish() {
    enter(phase_);
}

void PhaseCounter::journal_written() {
    ++counts_.marks;
    counts_.journal_size = std::max(counts_.journal_size, journal_file_bytes_);
    std::string_view mark = last_mark(journal_tail_);
    for (const MarkPhase& m : kMarkPhases) {
        if (m.mark == mark) {
            enter(m.starts);
            return;
        }
    }
}

PhaseCounter::Target PhaseCounter::classify(const std::u16string& path) const {
    // The engine names these places as the bench does: a plain prefix test.
    auto under = [&](const std::u16string& dir) {
        return path.size() > dir.size() && path[dir.size()] == u'\\' &&
               p::ascii_iequal(std::u16string_view(path).substr(0, dir.size()), dir);
    };
    if (under(journal_dir_)) return Target::journal;
    if (under(root_)) return Target::copy;
    for (const std::u16string& dir : contents_dirs_)
        if (under(dir)) return Target::copy;
    return Target::other;
}

p::Result<p::Handle> PhaseCounter::create_file(const std::u16string& path, uint32_t access,
                                               uint32_t share, uint32_t disposition, uint32_t flags,
                                               const p::SecurityDescriptor* sd) {
    UncountedScope uncounted;
    // Only opens for writing are classified: the engine opens many thousands
    // of objects to read them, and the bench's CPU time is the engine's too.
    const bool writes = (access & kWriteAccess) != 0;
    const bool journal_write = path.ends_with(u"\\journal\\txn.json.tmp");
    const Target target = writes ? classify(path) : Target::other;
    // The plan reaches disk with the journal's first write.
    if (phase_ == TxnPhase::scan && counts_.marks == 0 && journal_write) enter(TxnPhase::plan);
    auto h = inner_.create_file(path, access, share, disposition, flags, sd);
    if (h) {
        writable_.erase(h->raw());
        if (writes) writable_.emplace(h->raw(), target);
        if (writes && target == Target::journal) {
            journal_file_bytes_ = 0;
            journal_tail_.clear();
        }
    }
    return h;
}

p::Result<p::FileBasicInfo> PhaseCounter::get_file_basic_info(const p::Handle& h) {
    UncountedScope uncounted;
    return inner_.get_file_basic_info(h);
}

p::Result<p::FileIdInfo> PhaseCounter::get_file_id_info(const p::Handle& h) {
    UncountedScope uncounted;
    return inner_.get_file_id_info(h);
}

p::Result<p::ByHandleFileInformation> PhaseCounter::get_file_information_by_handle(
    const p::Handle& h) {
    UncountedScope uncounted;
    return inner_.get_file_information_by_handle(h);
}

p::Result<p::FinalPathName> PhaseCounter::get_final_path_name_by_handle(const p::Handle& h,
                                                                        uint32_t buffer_units,
                                                                        uint32_t flags) {
    UncountedScope uncounted;
    return inner_.get_final_path_name_by_handle(h, buffer_units, flags);
}

p::Result<uint32_t> PhaseCounter::write_file(const p::Handle& h, std::span<const uint8_t> bytes) {
    UncountedScope uncounted;
    auto written = inner_.write_file(h, bytes);
    if (!written) return written;
    auto it = writable_.find(h.raw());
    Target target = it == writable_.end() ? Target::other : it->second;
    switch (target) {
        case Target::journal: {
            counts_.journal_bytes += *written;
            journal_file_bytes_ += *written;
            std::string_view chunk(reinterpret_cast<const char*>(bytes.data()), *written);
            if (chunk.size() > kTailBytes) chunk = chunk.substr(chunk.size() - kTailBytes);
            journal_tail_ += chunk;
            if (journal_tail_.size() > kTailBytes)
                journal_tail_.erase(0, journal_tail_.size() - kTailBytes);
            break;
        }
        case Target::copy:
            counts_.bytes_copied += *written;
            break;
        case Target::other:
            counts_.other_bytes += *written;
            break;
    }
    return written;
}

p::Result<uint32_t> PhaseCounter::read_file(const p::Handle& h, std::span<uint8_t> buffer) {
    UncountedScope uncounted;
    return inner_.read_file(h, buffer);
}

p::Status PhaseCounter::flush_file_buffers(const p::Handle& h) {
    UncountedScope uncounted;
    return inner_.flush_file_buffers(h);
}

p::Status PhaseCounter::move_file_ex(const std::u16string& from, const std::u16string* to,
                                     uint32_t flags) {
    UncountedScope uncounted;
    p::Status moved = inner_.move_file_ex(from, to, flags);
    if (moved && to != nullptr && to->ends_with(u"\\journal\\txn.json") &&
        classify(*to) == Target::journal)
        journal_written();
    return moved;
}

p::Status PhaseCounter::create_directory(const std::u16string& path,
                                         const p::SecurityDescriptor* sd) {
    UncountedScope uncounted;
    if (phase_ == TxnPhase::scan && counts_.marks == 0 && path == journal_dir_)
        enter(TxnPhase::plan);
    return inner_.create_directory(path, sd);
}

p::Status PhaseCounter::set_file_rename_info_ex(const p::Handle& h, const std::u16string& target,
                                                uint32_t flags) {
    UncountedScope uncounted;
    p::Status renamed = inner_.set_file_rename_info_ex(h, target, flags);
    if (renamed && phase_ == TxnPhase::place && crash_after_ != 0 &&
        ++placed_renames_ == crash_after_)
        machine_.arm_crash_after(1);
    return renamed;
}

p::Status PhaseCounter::set_file_disposition_info_ex(const p::Handle& h, uint32_t flags) {
    UncountedScope uncounted;
    return inner_.set_file_disposition_info_ex(h, flags);
}

p::Status PhaseCounter::create_hard_link(const std::u16string& link,
                                         const std::u16string& existing) {
    UncountedScope uncounted;
    return inner_.create_hard_link(link, existing);
}

p::Result<std::vector<p::FindData>> PhaseCounter::find_files(const std::u16string& pattern) {
    p::Result<std::vector<p::FindData>> found = [&] {
        UncountedScope uncounted;
        return inner_.find_files(pattern);
    }();
    // The listing is handed to the engine: from here on it is the engine's data.
    if (found) {
        if (found->capacity() != 0) HeapMeter::adopt(found->data());
        for (const p::FindData& entry : *found) {
            const auto* name = entry.file_name.data();
            const auto* inside = reinterpret_cast<const char*>(&entry.file_name);
            const auto* at = reinterpret_cast<const char*>(name);
            if (at < inside || at >= inside + sizeof(entry.file_name)) HeapMeter::adopt(name);
        }
    }
    return found;
}

p::Result<std::u16string> PhaseCounter::get_volume_path_name(const std::u16string& path,
                                                             uint32_t buffer_units) {
    UncountedScope uncounted;
    return inner_.get_volume_path_name(path, buffer_units);
}

p::Result<uint32_t> PhaseCounter::get_volume_file_system_flags(const std::u16string& root) {
    UncountedScope uncounted;
    return inner_.get_volume_file_system_flags(root);
}

p::Result<std::u16string> PhaseCounter::get_full_path_name(const std::u16string& path) {
    UncountedScope uncounted;
    return inner_.get_full_path_name(path);
}

}  // namespace holvar::bench
