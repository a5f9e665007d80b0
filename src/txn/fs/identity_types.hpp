// The identity of file-system objects as the engine records and compares it.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace holvar::txn::fs {

// The 128-bit file id of FILE_ID_INFO, read big-endian: the first byte of the
// identifier is the most significant byte of the number.
struct FileId {
    uint64_t high = 0;
    uint64_t low = 0;

    static FileId from_bytes(const std::array<uint8_t, 16>& bytes);
    std::array<uint8_t, 16> to_bytes() const;
    // 32 lowercase hexadecimal digits.
    std::string to_hex() const;
    // Exactly 32 hexadecimal digits; `lowercase_only` refuses A-F.
    static std::optional<FileId> from_hex(std::string_view text, bool lowercase_only = true);

    friend auto operator<=>(const FileId&, const FileId&) = default;
};

enum class ObjectKind : uint8_t { absent = 0, file = 1, directory = 2, reparse = 3 };

// The kind from FILE_BASIC_INFO attributes: the reparse bit wins over the directory bit.
ObjectKind kind_from_attributes(uint32_t attributes);
std::string_view object_kind_name(ObjectKind kind);

struct ObjectProbe {
    ObjectKind kind = ObjectKind::absent;
    FileId id;  // meaningful unless kind is absent

    bool is(ObjectKind k, const FileId& i) const { return kind == k && id == i; }
    friend bool operator==(const ObjectProbe&, const ObjectProbe&) = default;
};

// A path relative to the install root or a stage folder, made only of normal
// name components (the `rel` of a journal operation).
using RelPath = std::u16string;

// The identity of the install root (or the stage directory) taken at planning time.
struct RootIdentity {
    std::u16string path;
    uint64_t volume_serial = 0;
    std::optional<FileId> file_id;  // absent when the directory did not exist yet

    friend bool operator==(const RootIdentity&, const RootIdentity&) = default;
};

}  // namespace holvar::txn::fs
