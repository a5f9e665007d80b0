// The simulated machine's model: plain data that every part of the simulation
// reads and changes. Each area keeps its own struct here so that later parts
// (service manager, registry calls, pipes) add fields without touching others.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "platform/os.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/process_model.hpp"

namespace holvar::sim {

using NodeId = uint64_t;

// One name of an object: the directory holding it and the name as stored.
struct Link {
    NodeId parent = 0;
    std::u16string name;
    friend bool operator==(const Link&, const Link&) = default;
};

// File contents, shared by the copies of a machine (clones, crash images, the
// durable image) until one of them writes: copying a machine copies pointers,
// not bytes. Readers see a vector; a writer asks for its own with edit().
class Bytes {
  public:
    Bytes() = default;
    Bytes(std::vector<uint8_t> bytes)  // NOLINT: contents are assigned as vectors
        : p_(bytes.empty() ? nullptr : std::make_shared<Block>(std::move(bytes))) {}
    const std::vector<uint8_t>& get() const { return p_ ? p_->bytes : empty_bytes(); }
    operator const std::vector<uint8_t>&() const { return get(); }  // NOLINT
    size_t size() const { return get().size(); }
    bool empty() const { return get().empty(); }
    const uint8_t* data() const { return get().data(); }
    auto begin() const { return get().begin(); }
    auto end() const { return get().end(); }
    void clear() { p_.reset(); }
    // The bytes to change, copied first when another copy shares them.
    std::vector<uint8_t>& edit() {
        if (!p_)
            p_ = std::make_shared<Block>(std::vector<uint8_t>{});
        else if (p_.use_count() > 1)
            p_ = std::make_shared<Block>(p_->bytes);
        p_->hashed = false;
        return p_->bytes;
    }
    // A hash of the contents, kept with the shared bytes so that copies of a
    // machine hash each file's contents once until one of them writes.
    Fingerprint hash() const;
    friend bool operator==(const Bytes& a, const Bytes& b) { return a.get() == b.get(); }

  private:
    struct Block {
        explicit Block(std::vector<uint8_t> b) : bytes(std::move(b)) {}
        std::vector<uint8_t> bytes;
        mutable bool hashed = false;
        mutable Fingerprint hash;
    };
    static const std::vector<uint8_t>& empty_bytes() {
        static const std::vector<uint8_t> none;
        return none;
    }
    std::shared_ptr<Block> p_;
};

// One object of a file system. Directories map their children by folded name.
struct Node {
    NodeKind kind = NodeKind::file;
    uint32_t volume = 0;
    uint64_t file_index = 0;  // per volume; the 128-bit id is made from it
    platform::Sid owner;
    platform::Sid group;
    std::optional<platform::Acl> dacl;  // none = a NULL DACL (everyone may do anything)
    bool dacl_protected = false;
    uint32_t attributes = 0;         // READONLY, HIDDEN, SYSTEM, ARCHIVE as given
    std::u16string reparse_target;   // junctions and symbolic links
    std::optional<uint32_t> mounts;  // a folder mount point: the volume it leads to
    int64_t creation_time = 0;       // FILETIME units
    int64_t write_time = 0;
    std::map<std::u16string, NodeId, std::less<>> children;  // folded name -> object
    std::vector<Link> links;                                 // its names; empty once deleted
    Bytes data;
    // Live state only (never part of a durable image).
    uint32_t open_handles = 0;
    std::optional<Link> delete_pending;  // classic delete-on-close: the name to remove
    // The fingerprint's hash of this object, kept until it is changed
    // (NodeTable::edit), so a machine's unchanged objects are hashed once.
    mutable bool hashed = false;
    mutable Fingerprint hash;
};

// The objects of a file system by id. Each object is shared with the copies
// of the machine (clones, crash images, the durable image) until one of them
// changes it: copying a machine copies pointers, and only what a run changes
// is copied again. Readers use at() and find(); a writer asks for its own
// copy with edit().
class NodeTable {
  public:
    using Map = std::unordered_map<NodeId, std::shared_ptr<Node>>;
    const Node& at(NodeId id) const { return *map_.at(id); }
    const Node* find(NodeId id) const {
        auto it = map_.find(id);
        return it == map_.end() ? nullptr : it->second.get();
    }
    bool contains(NodeId id) const { return map_.contains(id); }
    size_t size() const { return map_.size(); }
    // The object to change, copied first when another copy shares it.
    Node& edit(NodeId id) { return own(map_.at(id)); }
    Node* find_to_edit(NodeId id) {
        auto it = map_.find(id);
        return it == map_.end() ? nullptr : &own(it->second);
    }
    void set(NodeId id, Node n) {
        n.hashed = false;
        map_[id] = std::make_shared<Node>(std::move(n));
    }
    void erase(NodeId id) { map_.erase(id); }
    // Every object, to read: pairs of id and pointer.
    const Map& all() const { return map_; }

  private:
    static Node& own(std::shared_ptr<Node>& p) {
        if (p.use_count() > 1) p = std::make_shared<Node>(*p);
        p->hashed = false;
        return *p;
    }
    Map map_;
};

struct Namespace {
    NodeTable nodes;
};

struct Volume {
    std::u16string drive;         // u"C:" or empty
    std::u16string mount_folder;  // a folder on another volume, or empty
    uint64_t serial = 0;
    std::u16string file_system = u"NTFS";
    uint32_t flags = 0;
    NodeId root = 0;
    uint64_t next_index = 0;
};

// Metadata operations: atomic, durable in the order they were made. The same
// function applies them to the live state at once and to the durable image at
// a barrier or a crash, so both always agree on what an operation means.
struct OpCreate {
    NodeId parent = 0;
    std::u16string name;
    NodeId id = 0;
    Node node;  // metadata only: no children, no links, no contents
};
struct OpLink {
    NodeId parent = 0;
    std::u16string name;
    NodeId id = 0;
};
struct OpUnlink {
    NodeId parent = 0;
    std::u16string name;  // any case
};
struct OpRename {
    NodeId from_parent = 0;
    std::u16string from_name;  // any case
    NodeId to_parent = 0;
    std::u16string to_name;  // stored case
    bool replace = false;
};
using MetaOp = std::variant<OpCreate, OpLink, OpUnlink, OpRename>;

enum class HandleType : uint8_t {
    file,
    volume,
    mutex,
    process,
    thread,
    token,
    job,
    snapshot,
    pipe
};

struct HandleObj {
    uint32_t pid = 0;
    HandleType type = HandleType::file;
    NodeId node = 0;       // file: the object
    uint32_t volume = 0;   // volume device
    std::u16string mutex;  // mutex name
    uint32_t access = 0;   // granted, generic rights mapped
    uint32_t share = 0;
    uint32_t flags = 0;
    uint64_t position = 0;
    Link opened_as;       // the name the object was opened through
    uint32_t target = 0;  // process, thread, token: the pid; job: the job; pipe: the server pid
    std::u16string pipe;  // pipe: the folded endpoint name
};

struct Process {
    std::u16string image;
    Token token;
    std::u16string current_directory;
    bool alive = true;
    uint32_t exit_code = 0;
    // The image file mapped while the process lives (0 when it does not
    // exist): like an open for read and execute sharing read and delete, so it
    // cannot be written, deleted or replaced, only renamed.
    NodeId image_node = 0;
};

struct MutexObj {
    uint32_t owner = 0;  // pid, 0 = free
    uint32_t recursion = 0;
    bool abandoned = false;
    uint32_t handles = 0;
    bool admin_only = false;  // created by a privileged process: its default DACL
};

// Registry values are typed raw bytes, as RegQueryValueExW returns them.
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

struct RegValue {
    std::u16string name;  // stored case; empty = the default value
    uint32_t type = REG_SZ;
    std::vector<uint8_t> data;
};

struct RegKey {
    std::u16string path;                        // stored case, e.g. u"HKLM\\SOFTWARE\\X"
    std::map<std::u16string, RegValue> values;  // folded name -> value
};

// A value that reads back differently from what was stored (a registry
// filter driver's doing), for readback tests. Live state only.
struct RegReadFilter {
    std::u16string key;   // full path, any case
    std::u16string name;  // any case
    uint32_t type = REG_SZ;
    std::vector<uint8_t> data;
};

// An open key: the process, the key's folded full path and the granted rights.
struct RegHandleObj {
    uint32_t pid = 0;
    std::u16string key;
    uint32_t access = 0;
};

struct Registry {
    std::map<std::u16string, RegKey> keys;  // folded full path -> key
    std::vector<RegReadFilter> filters;
    std::map<uint64_t, RegHandleObj> handles;  // live only
};

// One service of the Service Control Manager: its configuration as stored and
// its status. What its process does is its program's (program_service.hpp).
struct Service {
    std::u16string name;  // stored case
    uint32_t service_type = 0x10;
    uint32_t start_type = 3;
    uint32_t error_control = 1;
    std::u16string binary_path;
    std::u16string load_order_group;
    std::vector<std::u16string> dependencies;
    std::optional<std::u16string> account;
    std::u16string display_name;
    std::u16string description;  // empty = none
    bool marked_for_delete = false;
    // Status.
    uint32_t state = 1;  // SERVICE_STOPPED
    uint32_t pid = 0;
    uint32_t win32_exit_code = 1077;  // ERROR_SERVICE_NEVER_STARTED
    uint32_t service_exit_code = 0;
};

// An open SCM or service handle: the process, the service's folded name
// (empty for the manager) and the granted rights.
struct ServiceHandleObj {
    uint32_t pid = 0;
    std::u16string service;
    uint32_t access = 0;
};

struct ServiceManager {
    std::map<std::u16string, Service> services;  // folded name -> service
    std::map<uint64_t, ServiceHandleObj> handles;
    // Tests only: runs at the start of every service call (after its fault
    // check), with the call's name, so another program can act between two
    // calls of the engine. Never saved.
    std::function<void(Machine::State&, std::string_view call)> on_call;
};

// A hook that stays with its machine: a copy of the machine (a clone, a crash
// image) starts without one.
struct MutationHook {
    std::function<void(const Machine::State&)> call;
    MutationHook() = default;
    MutationHook(const MutationHook&) {}
    MutationHook& operator=(const MutationHook&) { return *this; }
    explicit operator bool() const { return static_cast<bool>(call); }
};

struct Machine::State {
    platform::Instant clock{};

    // File systems, the durable image and the metadata written since the last
    // barrier (a flush or a write-through move).
    std::vector<Volume> volumes;
    Namespace live;
    Namespace durable;
    std::vector<MetaOp> log;
    std::unordered_set<NodeId> dirty;  // live objects whose contents are not flushed
    NodeId next_node = 1;

    std::map<uint64_t, HandleObj> handles;
    uint64_t next_handle = 0x104;
    std::map<uint32_t, Process> processes;
    uint32_t next_pid = 1000;
    std::map<std::u16string, MutexObj> mutexes;  // exact name
    ProcessModel process_model;  // details, jobs, pipes, snapshots, scheduled events
    Registry registry;
    ServiceManager scm;

    // Tests only (Machine::arm_turn_after): never saved.
    std::function<void()> turn;
    uint64_t turn_at = 0;  // the mutating calls made before it runs

    // Injection and counting.
    uint64_t boundary_calls = 0;
    uint64_t failable_calls = 0;  // the boundary calls begin_call sees
    uint64_t mutating_calls = 0;
    uint64_t crash_at = 0;          // absolute mutating-call number that crashes; 0 = none
    bool frozen = false;            // a crash fired; the run is unwinding
    std::string_view current_call;  // the boundary call being made
    std::vector<std::string>* call_names = nullptr;  // when recording them
    // Called at every mutating call, at the instant an armed crash would fire
    // there (Machine::take_crash_images).
    MutationHook on_mutation;
    std::vector<FaultRule> faults;
    std::vector<StallRule> stalls;
};

}  // namespace holvar::sim
