#include "txn/fs/identity_types.hpp"

#include "platform/win_types.hpp"

namespace holvar::txn::fs {

FileId FileId::from_bytes(const std::array<uint8_t, 16>& bytes) {
    FileId id;
    for (int i = 0; i < 8; ++i) id.high = (id.high << 8) | bytes[i];
    for (int i = 8; i < 16; ++i) id.low = (id.low << 8) | bytes[i];
    return id;
}

std::array<uint8_t, 16> FileId::to_bytes() const {
    std::array<uint8_t, 16> out{};
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
    for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
    return out;
}

std::string FileId::to_hex() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[i] = digits[(high >> (60 - 4 * i)) & 0xF];
        out[16 + i] = digits[(low >> (60 - 4 * i)) & 0xF];
    }
    return out;
}

std::optional<FileId> FileId::from_hex(std::string_view text, bool lowercase_only) {
    if (text.size() != 32) return std::nullopt;
    FileId id;
    for (size_t i = 0; i < 32; ++i) {
        char c = text[i];
        uint64_t v;
        if (c >= '0' && c <= '9') {
            v = static_cast<uint64_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            v = static_cast<uint64_t>(c - 'a' + 10);
        } else if (!lowercase_only && c >= 'A' && c <= 'F') {
            v = static_cast<uint64_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        uint64_t& word = i < 16 ? id.high : id.low;
        word = (word << 4) | v;
    }
    return id;
}

ObjectKind kind_from_attributes(uint32_t attributes) {
    if (attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT) return ObjectKind::reparse;
    if (attributes & platform::FILE_ATTRIBUTE_DIRECTORY) return ObjectKind::directory;
    return ObjectKind::file;
}

std::string_view object_kind_name(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::absent:
            return "absent";
        case ObjectKind::file:
            return "file";
        case ObjectKind::directory:
            return "directory";
        case ObjectKind::reparse:
            return "reparse";
    }
    return "absent";
}

}  // namespace holvar::txn::fs
