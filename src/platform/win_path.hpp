// Windows path text, defined once: prefixes, roots, components, parent, join,
// and the one comparison the engine uses between two paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unicode.hpp"  // is_valid_utf16, which path checks use with these

namespace holvar::platform {

enum class PathPrefix : uint8_t {
    none,            // relative ("a\b") or rooted without drive ("\a")
    drive,           // "C:"
    verbatim_drive,  // "\\?\C:"
    unc,             // "\\server\share"
    verbatim_unc,    // "\\?\UNC\server\share"
    verbatim,        // "\\?\anything-else"
    device,          // "\\.\name"
};

struct PathParts {
    PathPrefix prefix_kind = PathPrefix::none;
    std::u16string prefix;  // the prefix text as written ("C:", "\\?\C:", "\\server\share", ...)
    bool has_root = false;  // a separator follows the prefix (or starts the path)
    // Name components. Empty components (repeated or trailing separators) are
    // dropped; "." is dropped except as the first component of a relative path;
    // ".." is kept. Verbatim paths split on '\' only and keep every name as written.
    std::vector<std::u16string> components;
};

PathParts split_path(std::u16string_view path);
std::u16string render_path(const PathParts& parts);

bool is_separator(char16_t c);
// A path whose meaning does not depend on a current directory or drive:
// "C:\x", "\\server\share\x", "\\?\...", "\\.\...".
bool is_absolute_path(std::u16string_view path);
// The path with its last component removed; none when there is no component
// to remove (a bare prefix or root: "C:\" has no parent).
std::optional<std::u16string> parent_path(std::u16string_view path);
// The last component when it is a normal name (not "." or ".."); none otherwise.
std::optional<std::u16string> file_name(std::u16string_view path);
// base + "\" + name, without doubling a separator that base already ends with.
// A bare drive ("C:") stays drive-relative ("C:name"), as Windows reads it.
std::u16string join_path(std::u16string_view base, std::u16string_view name);
// A leading "\\?\" removed when present.
std::u16string_view strip_verbatim(std::u16string_view path);

// ASCII-only case folding: A-Z equal a-z, nothing else folds.
char16_t ascii_lower(char16_t c);
bool ascii_iequal(std::u16string_view a, std::u16string_view b);
// Ordering by ASCII-folded code units (then by length).
int ascii_icompare(std::u16string_view a, std::u16string_view b);

// The engine's path comparison: a leading "\\?\" removed from each side
// ("\\?\UNC\server" reads as "\\server"), the two split into prefix, root and
// components, compared component by component with ASCII case folding.
// `lies_under` is a component prefix, never a text prefix (C:\Holvar2 does not
// lie under C:\Holvar); a path lies under itself. ".." is resolved the way
// Windows resolves it when it normalises a path (it never climbs above the
// root), so C:\Holvar\..\Windows does not lie under C:\Holvar; in a "\\?\" path,
// which Windows does not normalise, a "." or ".." component makes the path
// equal to nothing and lie under nothing.
bool path_lies_under(std::u16string_view path, std::u16string_view ancestor);
bool paths_equal(std::u16string_view a, std::u16string_view b);
// Component-by-component comparison, every unit byte-exact (the placement
// check of the front end).
bool paths_equal_exact(std::u16string_view a, std::u16string_view b);

}  // namespace holvar::platform
