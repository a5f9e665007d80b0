// The Windows headers and the few conversions every Win32 call needs: UTF-16
// path text to wchar_t*, raw handle values, and GetLastError as an Error.
#pragma once

// The boundary's own constants carry the names the Windows headers define as
// macros (FILE_READ_DATA, DELETE, ...). They are declared first, so the macros
// cannot rewrite them; code that includes this header uses the macros only.
#include "platform/os.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

// Generic-name aliases of the W calls that share a name with a record of the
// boundary; the code here calls the W names.
#undef QueryServiceConfig

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "platform/handle.hpp"
#include "platform/win32/failure_code.hpp"

namespace holvar::win32 {

// wchar_t is UTF-16 on Windows, so a u16string's buffer is already what the
// wide calls take, NUL-terminated.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string from_wide(const wchar_t* text, size_t units) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), units);
}

// A NUL inside a path would silently cut it short at the call: the object
// acted on would not be the one named, so such a path never reaches Windows.
inline bool has_embedded_nul(std::u16string_view text) {
    return text.find(u'\0') != std::u16string_view::npos;
}

inline std::unexpected<platform::Error> embedded_nul() {
    return platform::invalid_input("embedded NUL");
}

inline std::unexpected<platform::Error> last_error() {
    return failure_from(static_cast<uint32_t>(GetLastError()));
}

inline HANDLE to_native(const platform::Handle& h) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(h.raw()));
}

inline uint64_t to_raw(HANDLE h) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
}

}  // namespace holvar::win32
