#include "platform/win32/descriptor_bytes.hpp"

namespace holvar::win32 {

platform::Result<platform::SecurityDescriptor> copy_self_relative(PSECURITY_DESCRIPTOR sd) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(sd, &control, &revision)) return last_error();
    platform::SecurityDescriptor out;
    if ((control & SE_SELF_RELATIVE) != 0) {
        DWORD length = GetSecurityDescriptorLength(sd);
        const auto* first = static_cast<const uint8_t*>(sd);
        out.bytes.assign(first, first + length);
        return out;
    }
    // The size probe can only fail: with no buffer there is nowhere to write.
    // Its success says nothing about the size, and carries no error code.
    DWORD length = 0;
    if (MakeSelfRelativeSD(sd, nullptr, &length)) return failure_from(0);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return last_error();
    out.bytes.resize(length);
    if (!MakeSelfRelativeSD(sd, out.bytes.data(), &length)) return last_error();
    out.bytes.resize(length);
    return out;
}

namespace {

// Windows follows every offset in the header, so each must land inside the
// bytes: owner, group and DACL through the shared decoder, the SACL here. An
// absolute-format descriptor holds pointers instead of offsets and is refused.
bool is_well_formed_self_relative(const platform::SecurityDescriptor& sd) {
    if (!platform::decode_security_descriptor(sd)) return false;
    const std::vector<uint8_t>& b = sd.bytes;
    const uint16_t control = static_cast<uint16_t>(b[2] | (b[3] << 8));
    if ((control & SE_SELF_RELATIVE) == 0) return false;
    const uint32_t sacl_offset =
        static_cast<uint32_t>(b[12]) | (static_cast<uint32_t>(b[13]) << 8) |
        (static_cast<uint32_t>(b[14]) << 16) | (static_cast<uint32_t>(b[15]) << 24);
    if ((control & SE_SACL_PRESENT) != 0 && sacl_offset != 0) {
        if (sacl_offset >= b.size()) return false;
        if (!platform::decode_acl(b.data() + sacl_offset, b.size() - sacl_offset)) return false;
    }
    return true;
}

}  // namespace

platform::Result<DescriptorBuffer> DescriptorBuffer::from(const platform::SecurityDescriptor& sd) {
    if (!is_well_formed_self_relative(sd)) {
        return platform::win32_error(error_invalid_security_descr);
    }
    DescriptorBuffer buffer;
    buffer.bytes_ = sd.bytes;
    buffer.attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
    buffer.attributes_.lpSecurityDescriptor = buffer.bytes_.data();
    buffer.attributes_.bInheritHandle = FALSE;
    return buffer;
}

DescriptorBuffer::DescriptorBuffer(DescriptorBuffer&& other) noexcept
    : bytes_(std::move(other.bytes_)), attributes_(other.attributes_) {
    // The vector's buffer moved with it, so the pointer stays valid; restate it.
    attributes_.lpSecurityDescriptor = bytes_.data();
}

}  // namespace holvar::win32
