// Name rules of the simulated file system: case folding (NTFS compares names
// through an upcase table, so lookups are case-insensitive while the stored
// name keeps its case), valid names, and the wildcards of a directory listing.
#pragma once

#include <string>
#include <string_view>

namespace holvar::sim {

// The upcase of one unit: ASCII, Latin-1, Greek and Cyrillic letters; the rest
// unchanged. Surrogates are never folded.
char16_t upcase(char16_t c);
std::u16string fold_name(std::u16string_view name);

// A name folded without allocating, for lookups: a name longer than any valid
// one is folded into a string instead.
class FoldedName {
  public:
    explicit FoldedName(std::u16string_view name);
    std::u16string_view view() const {
        return long_.empty() ? std::u16string_view(short_, size_) : long_;
    }

  private:
    char16_t short_[256];
    size_t size_ = 0;
    std::u16string long_;
};
bool names_equal(std::u16string_view a, std::u16string_view b);

// A name NTFS accepts in a Win32 namespace: 1 to 255 units, no control
// characters, none of < > : " / \ | ? *, and not "." or "..".
bool is_valid_name(std::u16string_view name);

// "*" and "?" as FindFirstFileW matches them (case-insensitive); "*.*" and "*"
// match everything.
bool wildcard_match(std::u16string_view pattern, std::u16string_view name);

}  // namespace holvar::sim
