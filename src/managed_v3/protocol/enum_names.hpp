// Enumerations of the v3 protocol travel as JSON strings, written exactly as
// the protocol lists them. Every enumeration has one table of its texts in
// declaration order; both directions go through it, so a value can never be
// written in one spelling and read in another.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace holvar::v3 {

// Specialised for each enumeration: `static constexpr std::array<std::string_view, N> names`.
template <class E>
struct EnumNames;

template <class E>
constexpr std::string_view enum_name(E value) {
    return EnumNames<E>::names[static_cast<std::size_t>(value)];
}

// The value whose text is exactly `text` (case-sensitive), or nothing for a
// text that the enumeration does not list.
template <class E>
constexpr std::optional<E> enum_from_name(std::string_view text) {
    const auto& names = EnumNames<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == text) return static_cast<E>(i);
    }
    return std::nullopt;
}

}  // namespace holvar::v3
