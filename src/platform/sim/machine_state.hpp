// The simulated machine's model: plain data that every part of the simulation
// reads and changes. Each area keeps its own struct here so that later parts
// (service manager, registry calls, pipes) add fields without touching others.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "platform/os.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::sim {

using NodeId = uint64_t;

// One name of an object: the directory holding it and the name as stored.
struct Link {
    NodeId parent = 0;
    std::u16string name;
    friend bool operator==(const Link&, const Link&) = default;
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
    std::map<std::u16string, NodeId> children;  // folded name -> object
    std::vector<Link> links;                    // its names; empty once deleted
    std::vector<uint8_t> data;
    // Live state only (never part of a durable image).
    uint32_t open_handles = 0;
    std::optional<Link> delete_pending;  // classic delete-on-close: the name to remove
};

struct Namespace {
    std::unordered_map<NodeId, Node> nodes;
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

enum class HandleType : uint8_t { file, volume, mutex };

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
    Link opened_as;  // the name the object was opened through
};

struct Process {
    std::u16string image;
    Token token;
    std::u16string current_directory;
    bool alive = true;
    uint32_t exit_code = 0;
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

struct Registry {
    std::map<std::u16string, RegKey> keys;  // folded full path -> key
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
    Registry registry;

    // Injection and counting.
    uint64_t boundary_calls = 0;
    uint64_t mutating_calls = 0;
    uint64_t crash_at = 0;  // absolute mutating-call number that crashes; 0 = none
    bool frozen = false;    // a crash fired; the run is unwinding
    std::vector<FaultRule> faults;
};

}  // namespace holvar::sim
