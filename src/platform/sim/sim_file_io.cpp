// Queries, reads, writes and flushes on open handles.
#include <algorithm>
#include <cstring>

#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_paths.hpp"

namespace holvar::sim {

using namespace platform;
namespace {

Result<HandleObj*> file_handle(Caller& c, const Handle& h) {
    HandleObj* obj = find_handle(c, h);
    if (obj == nullptr || obj->type != HandleType::file) return win32_error(win32::invalid_handle);
    return obj;
}

}  // namespace

Result<FileBasicInfo> sim_get_file_basic_info(Caller& c, const Handle& h) {
    auto obj = file_handle(c, h);
    if (!obj) return std::unexpected(obj.error());
    if (!((*obj)->access & FILE_READ_ATTRIBUTES)) return win32_error(win32::access_denied);
    const Node& n = c.s.live.nodes.at((*obj)->node);
    FileBasicInfo info;
    info.creation_time = n.creation_time;
    info.last_access_time = n.write_time;
    info.last_write_time = n.write_time;
    info.change_time = n.write_time;
    info.file_attributes = node_attributes(n);
    return info;
}

Result<FileIdInfo> sim_get_file_id_info(Caller& c, const Handle& h) {
    auto obj = file_handle(c, h);
    if (!obj) return std::unexpected(obj.error());
    const Node& n = c.s.live.nodes.at((*obj)->node);
    FileIdInfo info;
    info.volume_serial_number = c.s.volumes.at(n.volume).serial;
    info.file_id = file_id_bytes(n.file_index);
    return info;
}

Result<ByHandleFileInformation> sim_get_file_information_by_handle(Caller& c, const Handle& h) {
    auto obj = file_handle(c, h);
    if (!obj) return std::unexpected(obj.error());
    if (!((*obj)->access & FILE_READ_ATTRIBUTES)) return win32_error(win32::access_denied);
    const Node& n = c.s.live.nodes.at((*obj)->node);
    ByHandleFileInformation info;
    info.file_attributes = node_attributes(n);
    info.volume_serial_number = static_cast<uint32_t>(c.s.volumes.at(n.volume).serial);
    info.file_size_high = static_cast<uint32_t>(uint64_t{n.data.size()} >> 32);
    info.file_size_low = static_cast<uint32_t>(n.data.size());
    info.number_of_links = static_cast<uint32_t>(n.links.size());
    info.file_index_high = static_cast<uint32_t>(n.file_index >> 32);
    info.file_index_low = static_cast<uint32_t>(n.file_index);
    return info;
}

// GetFinalPathNameByHandleW: the return value counts characters without the
// NUL when the path fits, else the buffer size needed including the NUL.
Result<FinalPathName> sim_get_final_path_name(Caller& c, const Handle& h, uint32_t buffer_units,
                                              uint32_t flags) {
    auto obj = file_handle(c, h);
    if (!obj) return std::unexpected(obj.error());
    if (flags != 0) return win32_error(win32::invalid_parameter);  // only the DOS, normalized form
    std::u16string path = final_path_of(c.s, (*obj)->node, (*obj)->opened_as);
    FinalPathName out;
    if (path.size() + 1 > buffer_units) {
        out.length = static_cast<uint32_t>(path.size() + 1);
        return out;
    }
    out.length = static_cast<uint32_t>(path.size());
    out.path = std::move(path);
    return out;
}

Result<uint32_t> sim_write_file(Caller& c, const Handle& h, std::span<const uint8_t> bytes) {
    auto obj = file_handle(c, h);
    if (!obj) return std::unexpected(obj.error());
    HandleObj& ho = **obj;
    if (!(ho.access & (FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return win32_error(win32::access_denied);
    Node& n = c.s.live.nodes.edit(ho.node);
    if (n.kind != NodeKind::file) return win32_error(kInvalidFunction);
    uint64_t at = (ho.access & FILE_WRITE_DATA) ? ho.position : n.data.size();
    std::vector<uint8_t>& data = n.data.edit();
    if (at + bytes.size() > data.size()) data.resize(at + bytes.size());
    if (!bytes.empty()) std::memcpy(data.data() + at, bytes.data(), bytes.size());
    ho.position = at + bytes.size();
    n.write_time = 0x01DB0000'00000000 + c.s.clock.count() / 100;
    c.s.dirty.insert(ho.node);
    mutated(c.s);
    return static_cast<uint32_t>(bytes.size());
}

Result<uint32_t> sim_read_file(Caller& c, const Handle& h, std::span<uint8_t> buffer) {
    auto obj = file_handle(c, h);
    if (!obj) return std::unexpected(obj.error());
    HandleObj& ho = **obj;
    if (!(ho.access & FILE_READ_DATA)) return win32_error(win32::access_denied);
    const Node& n = c.s.live.nodes.at(ho.node);
    if (n.kind != NodeKind::file) return win32_error(kInvalidFunction);
    if (ho.position >= n.data.size()) return 0u;
    size_t count = std::min<size_t>(buffer.size(), n.data.size() - ho.position);
    std::memcpy(buffer.data(), n.data.data() + ho.position, count);
    ho.position += count;
    return static_cast<uint32_t>(count);
}

// FlushFileBuffers forces the volume's log, so every metadata change so far
// becomes durable; on a file it also writes that file's contents, on a volume
// every file's.
Status sim_flush_file_buffers(Caller& c, const Handle& h) {
    HandleObj* obj = find_handle(c, h);
    if (obj == nullptr || (obj->type != HandleType::file && obj->type != HandleType::volume))
        return win32_error(win32::invalid_handle);
    if (!(obj->access & (FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return win32_error(win32::access_denied);
    metadata_barrier(c.s);
    if (obj->type == HandleType::file) {
        flush_contents(c.s, obj->node);
    } else {
        std::vector<NodeId> on_volume;
        for (NodeId id : c.s.dirty)
            if (c.s.live.nodes.at(id).volume == obj->volume) on_volume.push_back(id);
        for (NodeId id : on_volume) flush_contents(c.s, id);
    }
    mutated(c.s);
    return {};
}

}  // namespace holvar::sim
