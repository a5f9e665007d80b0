// The simulated Windows machine: a model of the NTFS volumes, security, named
// mutexes, processes and clock that the engine relies on. Tests and holvar-sim
// build a machine, run the real engine on it through `ProcessOs`, and look at
// what is left. It is not a mock: opens check access and share modes, renames
// and deletes follow POSIX semantics, reparse points are objects of their own.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "platform/os.hpp"
#include "platform/security_types.hpp"

namespace holvar::sim {

using platform::Error;
using platform::Result;
using platform::Sid;
using platform::Status;

// A process token: who a simulated process runs as.
struct Token {
    Sid user;
    bool elevated = false;
    std::vector<std::u16string> privileges;  // e.g. u"SeDebugPrivilege"
};
Token admin_token();   // an elevated member of BUILTIN\Administrators (the engine)
Token system_token();  // LocalSystem (services)
Token user_token();    // an ordinary, unprivileged interactive user

// The kind of an object in the file system.
enum class NodeKind : uint8_t { file, directory, junction, symlink };

// What a directory listing or a lookup reports about one object.
struct NodeInfo {
    NodeKind kind = NodeKind::file;
    std::u16string name;  // stored case
    std::array<uint8_t, 16> file_id{};
    Sid owner;
    uint32_t attributes = 0;
    uint32_t link_count = 1;
    std::u16string reparse_target;  // junctions and symbolic links
    uint64_t size = 0;
};

struct VolumeSpec {
    std::u16string drive;         // u"C:" (empty for a volume mounted only into a folder)
    std::u16string mount_folder;  // u"C:\\mnt\\data" for a folder mount, else empty
    uint64_t serial = 0;
    std::u16string file_system = u"NTFS";  // NTFS, FAT32 or exFAT decide the flags
};

// Thrown from the mutating call at which an armed crash fires. Engine code never
// catches it (it catches no exceptions at all); the test harness does, then asks
// the machine for its crash image.
struct CrashInjected {
    uint64_t call_index = 0;
    std::string call;  // the name of the boundary call it struck in
};

// How the crash image treats what was not yet durable.
struct CrashCut {
    // Metadata operations since the last barrier that survive, in order
    // (none = all of them).
    std::optional<size_t> metadata_kept;
    // Unflushed file contents: dropped (back to the last flushed bytes) or,
    // with a seed, torn (a prefix of the new bytes over the old).
    std::optional<uint64_t> tear_seed;
};

// A call that fails on purpose: the K-th call that can fail overall
// (Machine::failable_calls), or every call
// whose name matches (e.g. "flush_file_buffers"), with the given Win32 error.
// With both an index and `once` false, every call of that name (any name when
// empty) from the K-th on fails: what a disk or a driver that keeps refusing
// does from some moment on.
struct FaultRule {
    std::optional<uint64_t> call_index;
    std::string call_name;  // empty = any
    uint32_t win32 = 0;
    bool once = true;
};

// A boundary call that takes time: every call named `call_name` (e.g.
// "get_final_path_name_by_handle") first lets `duration` of virtual time pass,
// firing the events that fall due, and then answers as usual (an injected
// fault included). Once: only the next such call.
struct StallRule {
    std::string call_name;
    platform::Duration duration{};
    bool once = true;
};

// A 128-bit hash of a machine's whole state (see Machine::fingerprint).
struct Fingerprint {
    uint64_t a = 0;
    uint64_t b = 0;
    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};
struct FingerprintHash {
    size_t operator()(const Fingerprint& f) const { return static_cast<size_t>(f.a ^ (f.b << 1)); }
};
// The same hash of a run of bytes, for those who hash what they read of a
// machine: `tag` keeps runs of different meaning apart.
Fingerprint fingerprint_of(uint64_t tag, const void* data, size_t size);

class Machine {
  public:
    // A fresh machine: C: on NTFS (serial 0x1234abcd5678ef90), C:\Windows,
    // C:\Program Files and C:\ProgramData owned by TrustedInstaller/SYSTEM with
    // the usual DACLs, C:\Users owned by SYSTEM, the engine-independent parts of
    // a minimal registry, and no processes but the system's.
    static std::unique_ptr<Machine> fresh();
    // Persistence: the whole machine in one JSON file.
    static Result<std::unique_ptr<Machine>> load(const std::filesystem::path& file);
    Status save(const std::filesystem::path& file) const;
    std::string to_json() const;
    static Result<std::unique_ptr<Machine>> from_json(const std::string& text);
    // An independent copy of the whole machine as it is now, live state and
    // counters included: an explorer builds a scenario once and walks every
    // crash point from copies of it.
    std::unique_ptr<Machine> clone() const;
    // A hash of everything that decides what the machine does next: the
    // saved state and the live state (handles, connections, the crash
    // model's unwritten metadata and contents, faults and stalls armed), but
    // not the call counters. Two machines with one fingerprint run any
    // program alike, so an explorer walks what follows from one of them once.
    Fingerprint fingerprint() const;
    // The fingerprint of everything crash() (all metadata kept, unflushed
    // contents dropped) keeps, without taking the image: two machines with
    // one crash fingerprint leave the same machine after that power cut, but
    // for the numbers their next handle and next process will take.
    Fingerprint crash_fingerprint() const;

    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // ---- volumes
    void add_volume(const VolumeSpec& spec);

    // ---- set-up and inspection, outside any process (tests and holvar-sim).
    // Paths are absolute Windows paths; missing parents are an error.
    Status make_directory(const std::u16string& path, const Sid& owner);
    // A directory with the owner and the DACL of an SDDL text ("O:BAG:BAD:P(...)"),
    // as a setup program makes a folder that nobody else may change.
    Status make_directory_sddl(const std::u16string& path, const std::u16string& sddl);
    Status write_file(const std::u16string& path, const std::vector<uint8_t>& bytes,
                      const Sid& owner);
    Status make_junction(const std::u16string& path, const std::u16string& target,
                         const Sid& owner);
    Status make_symlink(const std::u16string& path, const std::u16string& target, const Sid& owner);
    Status make_hard_link(const std::u16string& link, const std::u16string& existing);
    Status set_owner(const std::u16string& path, const Sid& owner);
    Status set_dacl(const std::u16string& path, const platform::Acl& dacl, bool protect);
    Status remove(const std::u16string& path);                // one name, not following links
    Result<NodeInfo> stat(const std::u16string& path) const;  // does not follow the last link
    Result<std::vector<uint8_t>> read_file(const std::u16string& path) const;
    Result<std::vector<NodeInfo>> list(const std::u16string& path) const;
    bool exists(const std::u16string& path) const;

    // ---- processes
    uint32_t spawn_process(const std::u16string& image_path, const Token& token,
                           const std::u16string& current_directory = u"C:\\Windows\\System32");
    // Ends a process: its handles close, mutexes it owns become abandoned.
    void exit_process(uint32_t pid, uint32_t exit_code);
    bool process_alive(uint32_t pid) const;

    // A clean restart: pending file renames (PendingFileRenameOperations) are
    // applied in order and the value removed, every process ends, all data is
    // on disk.
    void reboot();

    // ---- clock (virtual, monotonic; nothing here waits for real)
    platform::Instant now() const;
    void advance(platform::Duration d);

    // ---- crash and fault injection
    // The N-th mutating call from now on (1-based) throws CrashInjected after
    // its effect is recorded. 0 disarms.
    void arm_crash_after(uint64_t n);
    uint64_t mutating_calls() const;  // mutating calls made since construction or load
    uint64_t boundary_calls() const;  // every boundary call made (for calls-per-operation)
    // The boundary calls that can fail, a FaultRule's `call_index` counts
    // them: every call but the clock's and the process id, which never fail
    // and would otherwise shift every index after them.
    uint64_t failable_calls() const;
    // Metadata operations made since the last barrier: the cuts a crash image
    // can take now are 0 to this many (CrashCut::metadata_kept).
    size_t metadata_since_barrier() const;
    // Replace the live state by what a power cut at this instant leaves on disk:
    // durable metadata up to the last barrier plus `cut.metadata_kept` later
    // operations, file contents as last flushed (or torn), every process gone.
    void crash(const CrashCut& cut = {});
    void add_fault(const FaultRule& rule);
    void clear_faults();
    // The name of every boundary call from now on is appended to `names`
    // (none: stop); the pointer must outlive the recording.
    void record_call_names(std::vector<std::string>* names);
    // Crash images taken as a run goes, without unwinding it: at every
    // mutating call from now on (the n-th, 1-based, for which `wanted` says
    // yes; every one without it), `sink` gets a copy of the machine exactly as
    // arm_crash_after(n) would have left it once its crash was caught (frozen,
    // for crash(cut) to cut) and the name of the call it struck in. The run
    // goes on unchanged. No sink: stop. The sink must not act on this machine.
    // `wanted` sees the machine as it is at that call, before any copy is
    // made (to skip an image like one already taken).
    using CrashImageSink =
        std::function<void(uint64_t n, std::unique_ptr<Machine> image, std::string_view call)>;
    using CrashImageWanted = std::function<bool(uint64_t n, const Machine& now)>;
    void take_crash_images(CrashImageSink sink, CrashImageWanted wanted = {});
    // Calls that block for a while (a slow identity check, a hung driver).
    // Clock::run_bounded(task, limit) of a process runs the task at once, on
    // the caller's thread; the virtual time the task spends (its stalls, waits
    // and sleeps) is what is measured. Should it carry the clock past
    // start + limit, the clock stops exactly there: from then on the task runs
    // on to its end without any virtual time passing (waits inside it end at
    // once as timed out, no event fires for it), releases what it holds
    // through its own destructors, and run_bounded answers false. A task that
    // ends at or before start + limit answers true. So a task given to
    // run_bounded must not itself loop until the clock reaches some instant.
    void add_stall(const StallRule& rule);
    void clear_stalls();
    // Tests only: another process's turn between two calls of a run. `turn`
    // runs once, at the start of the first boundary call made after `n` more
    // mutating calls (0: the next call), before that call does anything; its
    // own calls are counted like any other. None disarms; disarm before the
    // machine is cloned, which copies the turn with what it refers to.
    void arm_turn_after(uint64_t n, std::function<void()> turn);

    struct State;  // the model; defined by the implementation
    State& state() { return *state_; }
    const State& state() const { return *state_; }

  private:
    Machine();
    std::unique_ptr<State> state_;
};

// The OS boundary as seen from one simulated process of a machine: every call
// acts with that process's token, current directory and handle table.
class ProcessOs {
  public:
    ProcessOs(Machine& machine, uint32_t pid);
    ~ProcessOs();
    ProcessOs(const ProcessOs&) = delete;
    ProcessOs& operator=(const ProcessOs&) = delete;

    platform::Os& os();
    uint32_t pid() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace holvar::sim
