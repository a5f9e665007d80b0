#include "managed_v3/identity/process_identity.hpp"

#include <cstring>

#include "platform/security_types.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;

std::unexpected<p::Error> identity_rejected() {
    return p::fail(p::ErrorKind::permission_denied, kIdentityRejected);
}

namespace {
constexpr uint32_t kLiveAccess = p::PROCESS_QUERY_LIMITED_INFORMATION | p::SYNCHRONIZE;
constexpr uint32_t kImageOpenFlags = p::FILE_FLAG_OPEN_REPARSE_POINT;
constexpr uint32_t kTokenUserMin = 16;
constexpr uint32_t kTokenUserMax = 65536;

// The SID of a TOKEN_USER buffer: its offset stands where the pointer does.
std::optional<p::Sid> token_user_sid(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kTokenUserMin) return std::nullopt;
    uint64_t offset = 0;
    std::memcpy(&offset, bytes.data(), sizeof offset);  // little-endian, as the buffer is
    if (offset < kTokenUserMin || offset + 8 > bytes.size()) return std::nullopt;
    const size_t length = 8 + 4 * size_t{bytes[offset + 1]};
    if (offset + length > bytes.size()) return std::nullopt;
    std::vector<uint8_t> sid(bytes.begin() + static_cast<long>(offset),
                             bytes.begin() + static_cast<long>(offset + length));
    if (!p::sid_is_valid(sid)) return std::nullopt;
    return p::Sid{std::move(sid)};
}
}  // namespace

p::Result<bool> same_file(p::Os& os, const p::Handle& a, const p::Handle& b) {
    auto ia = os.files.get_file_information_by_handle(a);
    auto ib = os.files.get_file_information_by_handle(b);
    if (!ia || !ib) return identity_rejected();
    return ia->volume_serial_number == ib->volume_serial_number &&
           ia->file_index_high == ib->file_index_high && ia->file_index_low == ib->file_index_low;
}

p::Result<std::u16string> final_path(p::Os& os, const p::Handle& h) {
    auto name = os.files.get_final_path_name_by_handle(h, p::PATH_BUFFER_UNITS, 0);
    if (!name || name->length == 0 || name->length >= p::PATH_BUFFER_UNITS)
        return identity_rejected();
    return name->path;
}

p::Result<PinnedPath> verify_process_image(p::Os& os, std::u16string_view expected_image,
                                           const p::Handle& process) {
    auto walk = walk_trusted_path(os, expected_image);
    if (!walk) return identity_rejected();
    auto info = os.files.get_file_information_by_handle(walk->last());
    if (!info || (info->file_attributes & p::FILE_ATTRIBUTE_DIRECTORY)) return identity_rejected();
    auto image = os.processes.query_full_process_image_name(process, 0, kImageNameUnits);
    if (!image) return identity_rejected();
    auto opened =
        os.files.create_file(*image, kPinAccess, kPinShare, p::OPEN_EXISTING, kImageOpenFlags);
    if (!opened) return identity_rejected();
    auto same = same_file(os, walk->last(), *opened);
    if (!same || !*same) return identity_rejected();
    auto walked_path = final_path(os, walk->last());
    auto image_path = final_path(os, *opened);
    if (!walked_path || !image_path || *walked_path != *image_path) return identity_rejected();
    walk->handles.push_back(std::move(*opened));
    return std::move(*walk);
}

p::Status verify_process_is_system(p::Os& os, const p::Handle& process) {
    auto token = os.security.open_process_token(&process, p::TOKEN_QUERY);
    if (!token) return identity_rejected();
    auto size = os.security.get_token_information(*token, p::TokenUser, 0);
    if (!size || size->last_error != p::win32::insufficient_buffer ||
        size->return_length < kTokenUserMin || size->return_length > kTokenUserMax)
        return identity_rejected();
    auto info = os.security.get_token_information(*token, p::TokenUser, size->return_length);
    if (!info || info->last_error != 0) return identity_rejected();
    auto user = token_user_sid(info->bytes);
    auto system = os.security.convert_string_sid_to_sid(p::sids::local_system);
    if (!user || !system || !os.security.equal_sid(*user, *system)) return identity_rejected();
    return {};
}

p::Result<bool> process_is_alive(p::Os& os, const p::Handle& process) {
    auto waited = os.sync.wait_for_single_object(process, 0);
    if (!waited) return std::unexpected(waited.error());
    return *waited == p::WAIT_TIMEOUT;
}

p::Result<p::Handle> open_live_process(p::Os& os, uint32_t pid) {
    auto h = os.processes.open_process(kLiveAccess, false, pid);
    if (!h) return identity_rejected();
    auto alive = process_is_alive(os, *h);
    if (!alive || !*alive) return identity_rejected();
    return std::move(*h);
}

}  // namespace holvar::v3
