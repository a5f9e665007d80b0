// The boundary calls as the simulated machine answers them, one function per
// call, grouped by the file that implements them. ProcessOs counts each call,
// applies injected faults and then calls these.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

// ERROR_INVALID_FUNCTION: what a volume answers to a call it does not support.
inline constexpr uint32_t kInvalidFunction = 1;

using platform::Handle;
using platform::Result;
using platform::Status;

// sim_open.cpp
Result<Handle> sim_create_file(Caller& c, const std::u16string& path, uint32_t access,
                               uint32_t share, uint32_t disposition, uint32_t flags,
                               const platform::SecurityDescriptor* sd);
Status sim_create_directory(Caller& c, const std::u16string& path,
                            const platform::SecurityDescriptor* sd);

// sim_file_io.cpp
Result<platform::FileBasicInfo> sim_get_file_basic_info(Caller& c, const Handle& h);
Result<platform::FileIdInfo> sim_get_file_id_info(Caller& c, const Handle& h);
Result<platform::ByHandleFileInformation> sim_get_file_information_by_handle(Caller& c,
                                                                             const Handle& h);
Result<platform::FinalPathName> sim_get_final_path_name(Caller& c, const Handle& h,
                                                        uint32_t buffer_units, uint32_t flags);
Result<uint32_t> sim_write_file(Caller& c, const Handle& h, std::span<const uint8_t> bytes);
Result<uint32_t> sim_read_file(Caller& c, const Handle& h, std::span<uint8_t> buffer);
Status sim_flush_file_buffers(Caller& c, const Handle& h);

// sim_rename.cpp
Status sim_set_rename_info_ex(Caller& c, const Handle& h, const std::u16string& target,
                              uint32_t flags);
Status sim_set_disposition_info_ex(Caller& c, const Handle& h, uint32_t flags);
Status sim_move_file_ex(Caller& c, const std::u16string& from, const std::u16string* to,
                        uint32_t flags);
Status sim_create_hard_link(Caller& c, const std::u16string& link, const std::u16string& existing);

// sim_listing.cpp
Result<std::vector<platform::FindData>> sim_find_files(Caller& c, const std::u16string& pattern);
Result<std::u16string> sim_get_volume_path_name(Caller& c, const std::u16string& path,
                                                uint32_t buffer_units);
Result<uint32_t> sim_get_volume_file_system_flags(Caller& c, const std::u16string& root);

// sim_security.cpp
Result<platform::SecurityDescriptor> sim_get_security_info(Caller& c, const Handle& h,
                                                           uint32_t object_type,
                                                           uint32_t security_info);

// sim_sync.cpp
Result<platform::CreatedMutex> sim_create_mutex(Caller& c, const std::u16string& name,
                                                bool initial_owner);
Result<uint32_t> sim_wait_for_single_object(Caller& c, const Handle& h, uint32_t timeout_ms);

// Shared by the file calls (sim_open.cpp).
struct AccessCheck {
    bool ok = false;
    uint32_t granted = 0;
};
// Access to an existing object: its DACL, plus what its directory grants over
// its children (FILE_DELETE_CHILD gives DELETE, FILE_LIST_DIRECTORY gives
// FILE_READ_ATTRIBUTES), as NTFS allows.
bool access_allowed(const Machine::State& s, const Token& t, NodeId node, NodeId parent,
                    uint32_t desired);
// Whether an open with `access`/`share` conflicts with the object's other open
// handles. Only opens that read, write, execute or delete take part.
bool share_conflict(const Machine::State& s, NodeId node, uint32_t access, uint32_t share);
// Whether a live process runs from the object (its image is mapped).
bool is_running_image(const Machine::State& s, NodeId node);
// Whether every open handle of the object lets it be deleted or renamed over.
bool all_handles_share_delete(const Machine::State& s, NodeId node);
// The owner, group and DACL of a new object under `parent`.
platform::Status apply_new_security(const Machine::State& s, const Token& t, NodeId parent,
                                    const platform::SecurityDescriptor* sd, Node& n);

}  // namespace holvar::sim
