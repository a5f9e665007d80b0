// The file calls of one engine process, passed through and watched: which
// phase the engine is in (told by the marks its journal reaches), how many
// boundary calls of the machine each phase made, and what the engine wrote.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/os.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::bench {

// Everything before the first journal write is the scan; that write is the
// plan reaching disk; each later mark starts the phase it names.
enum class TxnPhase : uint8_t { scan, plan, place, verify, finalize, cleanup };
inline constexpr size_t kPhaseCount = 6;
const char* phase_name(TxnPhase phase);

struct RunCounts {
    std::array<uint64_t, kPhaseCount> calls{};  // boundary calls of the machine, by phase
    uint64_t marks = 0;                         // journal writes (one per mark)
    uint64_t journal_bytes = 0;                 // every byte of every journal write
    uint64_t journal_size = 0;                  // the largest journal written
    // Written into a file under the root or the stage's payload, rollback
    // and trash folders: payload contents copied.
    uint64_t bytes_copied = 0;
    uint64_t other_bytes = 0;  // every other byte written (the outcome report, "diag.txt")
    uint64_t clock_reads = 0;  // of the calls, reads of the monotonic clock
    uint64_t total_calls() const;
};

class PhaseCounter final : public platform::Files {
  public:
    PhaseCounter(platform::Files& inner, sim::Machine& machine, std::u16string root,
                 std::u16string stage, RunCounts& counts);

    // Closes the phase in progress: its calls go into the counts.
    void finish();
    // The machine is set to lose power at the next change after the k-th
    // rename of the placement phase.
    void crash_after_placed_renames(uint64_t k) { crash_after_ = k; }

    platform::Result<platform::Handle> create_file(const std::u16string& path, uint32_t access,
                                                   uint32_t share, uint32_t disposition,
                                                   uint32_t flags,
                                                   const platform::SecurityDescriptor* sd) override;
    platform::Result<platform::FileBasicInfo> get_file_basic_info(
        const platform::Handle& h) override;
    platform::Result<platform::FileIdInfo> get_file_id_info(const platform::Handle& h) override;
    platform::Result<platform::ByHandleFileInformation> get_file_information_by_handle(
        const platform::Handle& h) override;
    platform::Result<platform::FinalPathName> get_final_path_name_by_handle(
        const platform::Handle& h, uint32_t buffer_units, uint32_t flags) override;
    platform::Result<uint32_t> write_file(const platform::Handle& h,
                                          std::span<const uint8_t> bytes) override;
    platform::Result<uint32_t> read_file(const platform::Handle& h,
                                         std::span<uint8_t> buffer) override;
    platform::Status flush_file_buffers(const platform::Handle& h) override;
    platform::Status move_file_ex(const std::u16string& from, const std::u16string* to,
                                  uint32_t flags) override;
    platform::Status create_directory(const std::u16string& path,
                                      const platform::SecurityDescriptor* sd) override;
    platform::Status set_file_rename_info_ex(const platform::Handle& h,
                                             const std::u16string& target, uint32_t flags) override;
    platform::Status set_file_disposition_info_ex(const platform::Handle& h,
                                                  uint32_t flags) override;
    platform::Status create_hard_link(const std::u16string& link,
                                      const std::u16string& existing) override;
    platform::Result<std::vector<platform::FindData>> find_files(
        const std::u16string& pattern) override;
    platform::Result<std::u16string> get_volume_path_name(const std::u16string& path,
                                                          uint32_t buffer_units) override;
    platform::Result<uint32_t> get_volume_file_system_flags(const std::u16string& root) override;
    platform::Result<std::u16string> get_full_path_name(const std::u16string& path) override;

  private:
    enum class Target : uint8_t { journal, copy, other };

    void enter(TxnPhase phase);
    void journal_written();
    Target classify(const std::u16string& path) const;

    platform::Files& inner_;
    sim::Machine& machine_;
    std::u16string root_;
    std::u16string stage_;
    std::u16string journal_dir_;
    std::u16string contents_dirs_[3];  // the stage's payload, rollback and trash
    RunCounts& counts_;
    TxnPhase phase_ = TxnPhase::scan;
    uint64_t phase_start_ = 0;
    uint64_t journal_file_bytes_ = 0;  // of the journal being written
    std::string journal_tail_;         // its last bytes: the marks end it
    uint64_t placed_renames_ = 0;
    uint64_t crash_after_ = 0;
    std::unordered_map<uint64_t, Target> writable_;  // open handles with write access
};

// The clock of the same process, passed through; its reads are counted (the
// machine counts them among its boundary calls too).
class ClockCounter final : public platform::Clock {
  public:
    ClockCounter(platform::Clock& inner, RunCounts& counts) : inner_(inner), counts_(counts) {}
    platform::Instant now() override {
        ++counts_.clock_reads;
        return inner_.now();
    }
    void sleep_for(platform::Duration d) override { inner_.sleep_for(d); }
    bool run_bounded(std::function<void()> task, platform::Duration limit) override {
        return inner_.run_bounded(std::move(task), limit);
    }

  private:
    platform::Clock& inner_;
    RunCounts& counts_;
};

}  // namespace holvar::bench
