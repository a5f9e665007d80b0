// The file information classes the Win32 side passes by number, and the
// FILE_RENAME_INFO record both rename classes take. The headers only name the
// Ex classes for newer SDK targets, and the numbers are what Windows checks.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/buffer_words.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

inline constexpr int file_basic_info_class = 0;
inline constexpr int file_rename_info_class = 3;
inline constexpr int file_disposition_info_class = 4;
inline constexpr int file_id_info_class = 18;
inline constexpr int file_disposition_info_ex_class = 21;
inline constexpr int file_rename_info_ex_class = 22;

inline FILE_INFO_BY_HANDLE_CLASS info_class(int number) {
    return static_cast<FILE_INFO_BY_HANDLE_CLASS>(number);
}

// FILE_RENAME_INFO on x64: Flags (the union with ReplaceIfExists) at 0,
// RootDirectory at 8 (NULL here), FileNameLength at 16, FileName from 20.
inline constexpr size_t rename_header_bytes = 20;

// The record in 8-byte aligned storage; a NUL follows the name in memory
// although the length passed (`bytes()`) ends before it. The caller has
// checked that the name's byte length fits a DWORD with the header.
class RenameRecord {
  public:
    RenameRecord(DWORD flags_field, const std::u16string& target)
        : name_bytes_(target.size() * sizeof(char16_t)),
          storage_(words_for_bytes(rename_header_bytes + name_bytes_ + sizeof(char16_t)), 0) {
        auto* bytes = data();
        const DWORD name_length = static_cast<DWORD>(name_bytes_);
        std::memcpy(bytes, &flags_field, sizeof(flags_field));
        std::memcpy(bytes + 16, &name_length, sizeof(name_length));
        std::memcpy(bytes + rename_header_bytes, target.data(), name_bytes_);
    }
    uint8_t* data() { return reinterpret_cast<uint8_t*>(storage_.data()); }
    DWORD bytes() const { return static_cast<DWORD>(rename_header_bytes + name_bytes_); }

  private:
    size_t name_bytes_;
    std::vector<uint64_t> storage_;
};

}  // namespace holvar::win32
