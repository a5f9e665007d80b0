#include "platform/win_path.hpp"

#include <cstdint>
#include <cstring>

namespace holvar::platform {

bool is_separator(char16_t c) {
    return c == u'\\' || c == u'/';
}

char16_t ascii_lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

namespace {

// Units that are equal fold equally: the common prefix of two paths (long in
// sorted inventories) is passed four units at a time before any folding.
size_t exact_common_prefix(std::u16string_view a, std::u16string_view b, size_t n) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, sizeof x);
        std::memcpy(&y, b.data() + i, sizeof y);
        if (x != y) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

}  // namespace

bool ascii_iequal(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = exact_common_prefix(a, b, a.size()); i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

int ascii_icompare(std::u16string_view a, std::u16string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = exact_common_prefix(a, b, n); i < n; ++i) {
        char16_t x = ascii_lower(a[i]), y = ascii_lower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

bool is_drive_letter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Length of the text up to the next separator (either kind unless verbatim).
size_t next_sep(std::u16string_view p, size_t from, bool verbatim) {
    for (size_t i = from; i < p.size(); ++i)
        if (verbatim ? p[i] == u'\\' : is_separator(p[i])) return i;
    return p.size();
}

}  // namespace

PathParts split_path(std::u16string_view p) {
    PathParts parts;
    size_t pos = 0;
    bool verbatim = false;
    if (p.size() >= 4 && p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\') {
        verbatim = true;
        std::u16string_view rest = p.substr(4);
        if (rest.size() >= 2 && is_drive_letter(rest[0]) && rest[1] == u':') {
            parts.prefix_kind = PathPrefix::verbatim_drive;
            pos = 6;
        } else if (rest.size() >= 3 && ascii_iequal(rest.substr(0, 3), u"UNC") &&
                   (rest.size() == 3 || rest[3] == u'\\')) {
            parts.prefix_kind = PathPrefix::verbatim_unc;
            size_t server_end = next_sep(p, std::min(p.size(), size_t{8}), true);
            size_t share_end =
                server_end < p.size() ? next_sep(p, server_end + 1, true) : server_end;
            pos = share_end;
        } else {
            parts.prefix_kind = PathPrefix::verbatim;
            pos = next_sep(p, 4, true);
        }
    } else if (p.size() >= 4 && is_separator(p[0]) && is_separator(p[1]) && p[2] == u'.' &&
               is_separator(p[3])) {
        parts.prefix_kind = PathPrefix::device;
        pos = next_sep(p, 4, false);
    } else if (p.size() >= 2 && is_separator(p[0]) && is_separator(p[1])) {
        parts.prefix_kind = PathPrefix::unc;
        size_t server_end = next_sep(p, 2, false);
        size_t share_end = server_end < p.size() ? next_sep(p, server_end + 1, false) : server_end;
        pos = share_end;
    } else if (p.size() >= 2 && is_drive_letter(p[0]) && p[1] == u':') {
        parts.prefix_kind = PathPrefix::drive;
        pos = 2;
    }
    parts.prefix = std::u16string(p.substr(0, pos));
    if (pos < p.size() && (verbatim ? p[pos] == u'\\' : is_separator(p[pos]))) {
        parts.has_root = true;
        ++pos;
    }
    bool first = true;
    while (pos <= p.size()) {
        size_t end = next_sep(p, pos, verbatim);
        std::u16string_view comp = p.substr(pos, end - pos);
        if (!comp.empty()) {
            bool keep = true;
            if (!verbatim && comp == u".") {
                keep = first && !parts.has_root && parts.prefix_kind == PathPrefix::none;
            }
            if (keep) parts.components.emplace_back(comp);
            first = false;
        }
        if (end >= p.size()) break;
        pos = end + 1;
    }
    return parts;
}

std::u16string render_path(const PathParts& parts) {
    std::u16string out = parts.prefix;
    if (parts.has_root) out.push_back(u'\\');
    for (size_t i = 0; i < parts.components.size(); ++i) {
        if (i > 0) out.push_back(u'\\');
        out += parts.components[i];
    }
    return out;
}

bool is_absolute_path(std::u16string_view path) {
    PathParts parts = split_path(path);
    switch (parts.prefix_kind) {
        case PathPrefix::drive:
            return parts.has_root;
        case PathPrefix::none:
            return false;
        default:
            return true;
    }
}

std::optional<std::u16string> parent_path(std::u16string_view path) {
    PathParts parts = split_path(path);
    if (parts.components.empty()) return std::nullopt;
    parts.components.pop_back();
    return render_path(parts);
}

std::optional<std::u16string> file_name(std::u16string_view path) {
    PathParts parts = split_path(path);
    if (parts.components.empty()) return std::nullopt;
    const std::u16string& last = parts.components.back();
    if (last == u"." || last == u"..") return std::nullopt;
    return last;
}

std::u16string join_path(std::u16string_view base, std::u16string_view name) {
    std::u16string out(base);
    bool bare_drive = base.size() == 2 && is_drive_letter(base[0]) && base[1] == u':';
    if (!out.empty() && !is_separator(out.back()) && !bare_drive) out.push_back(u'\\');
    out += name;
    return out;
}

std::u16string_view strip_verbatim(std::u16string_view path) {
    if (path.size() >= 4 && path.substr(0, 4) == u"\\\\?\\") return path.substr(4);
    return path;
}

namespace {

bool starts_with_verbatim(std::u16string_view p) {
    return p.size() >= 4 && p.substr(0, 4) == u"\\\\?\\";
}

// A path as the comparison sees it: the verbatim marker gone, separators in
// the prefix made uniform, "." dropped and ".." resolved as Windows would
// normalise the path. `comparable` is false for a "\\?\" path holding "." or
// "..": Windows passes those names through verbatim, so no lexical reading of
// them can be trusted.
struct ComparablePath {
    bool comparable = true;
    PathParts parts;
};

// A "\\?\" path naming "." or "..": no call resolves it, and it equals
// nothing, not even itself.
bool verbatim_with_dots(std::u16string_view path) {
    if (!starts_with_verbatim(path)) return false;
    for (const std::u16string& c : split_path(path).components)
        if (c == u"." || c == u"..") return true;
    return false;
}

ComparablePath comparable_path(std::u16string_view path) {
    ComparablePath out;
    out.comparable = !verbatim_with_dots(path);
    std::u16string text;
    if (starts_with_verbatim(path)) {
        std::u16string_view rest = path.substr(4);
        if (rest.size() >= 3 && ascii_iequal(rest.substr(0, 3), u"UNC") &&
            (rest.size() == 3 || rest[3] == u'\\')) {
            text = u"\\\\";
            text += rest.substr(rest.size() == 3 ? 3 : 4);
        } else {
            text = rest;
        }
    } else {
        text = path;
    }
    PathParts parts = split_path(text);
    for (char16_t& c : parts.prefix)
        if (c == u'/') c = u'\\';
    bool anchored = parts.has_root || parts.prefix_kind != PathPrefix::none;
    std::vector<std::u16string> resolved;
    for (std::u16string& c : parts.components) {
        if (c == u".") continue;
        if (c == u"..") {
            if (!resolved.empty() && resolved.back() != u"..") {
                resolved.pop_back();
            } else if (!anchored) {
                resolved.push_back(std::move(c));  // a relative path may start above itself
            }
            continue;
        }
        resolved.push_back(std::move(c));
    }
    parts.components = std::move(resolved);
    out.parts = std::move(parts);
    return out;
}

template <class Eq>
bool lies_under_with(const PathParts& a, const PathParts& b, Eq eq) {
    if (a.prefix_kind != b.prefix_kind || !eq(a.prefix, b.prefix) || a.has_root != b.has_root)
        return false;
    if (b.components.size() > a.components.size()) return false;
    for (size_t i = 0; i < b.components.size(); ++i)
        if (!eq(a.components[i], b.components[i])) return false;
    return true;
}

}  // namespace

bool path_lies_under(std::u16string_view path, std::u16string_view ancestor) {
    ComparablePath a = comparable_path(path), b = comparable_path(ancestor);
    if (!a.comparable || !b.comparable) return false;
    return lies_under_with(a.parts, b.parts, ascii_iequal);
}

bool paths_equal(std::u16string_view a, std::u16string_view b) {
    // The engine mostly compares a path with the very text it opened.
    if (a == b) return !verbatim_with_dots(a);
    ComparablePath pa = comparable_path(a), pb = comparable_path(b);
    if (!pa.comparable || !pb.comparable) return false;
    return pa.parts.components.size() == pb.parts.components.size() &&
           lies_under_with(pa.parts, pb.parts, ascii_iequal);
}

bool paths_equal_exact(std::u16string_view a, std::u16string_view b) {
    auto exact = [](std::u16string_view x, std::u16string_view y) { return x == y; };
    PathParts pa = split_path(a), pb = split_path(b);
    return pa.components.size() == pb.components.size() && lies_under_with(pa, pb, exact);
}

}  // namespace holvar::platform
