#include "managed_v3/identity/path_walk.hpp"

#include <array>

#include "platform/security_types.hpp"
#include "platform/win_path.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;

namespace {

using Failure = std::unexpected<PathWalkFailure>;

Failure failure(PathWalkReason reason, bool last, std::optional<uint32_t> code = std::nullopt) {
    return std::unexpected(PathWalkFailure{reason, last, code});
}

std::optional<uint32_t> code_of(const p::Error& e) {
    if (e.kind == p::ErrorKind::win32) return e.win32;
    return std::nullopt;
}

bool is_drive_letter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// A plain name: not "." or "..", not ending in a space or a dot, none of the
// characters Windows would read as a stream, a wildcard or a pipe (and no NUL,
// which would cut the name short at the call).
bool is_plain_name(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    if (name.back() == u' ' || name.back() == u'.') return false;
    return name.find_first_of(std::u16string_view(u"|<>?*:\0", 7)) == std::u16string_view::npos;
}

constexpr std::array<const char16_t*, 3> kTrusted{p::sids::local_system, p::sids::administrators,
                                                  p::sids::trusted_installer};

}  // namespace

std::optional<PathWalkFailure> check_object_security(p::Os& os, const p::Handle& h,
                                                     uint32_t write_mask, bool last) {
    auto sd = os.security.get_security_info(
        h, p::SE_FILE_OBJECT, p::OWNER_SECURITY_INFORMATION | p::DACL_SECURITY_INFORMATION);
    if (!sd)
        return PathWalkFailure{PathWalkReason::security_query_failed, last, code_of(sd.error())};
    std::vector<p::Sid> trusted;
    for (const char16_t* text : kTrusted) {
        auto sid = os.security.convert_string_sid_to_sid(text);
        if (!sid)
            return PathWalkFailure{PathWalkReason::sid_conversion_failed, last,
                                   code_of(sid.error())};
        trusted.push_back(std::move(*sid));
    }
    auto is_trusted = [&](const p::Sid& sid) {
        for (const p::Sid& t : trusted)
            if (os.security.equal_sid(sid, t)) return true;
        return false;
    };
    auto parts = p::decode_security_descriptor(*sd);
    if (!parts) return PathWalkFailure{PathWalkReason::ace_unreadable, last, std::nullopt};
    if (!parts->dacl_present || !parts->dacl)
        return PathWalkFailure{PathWalkReason::no_dacl, last, std::nullopt};
    if (!parts->owner || !is_trusted(*parts->owner))
        return PathWalkFailure{PathWalkReason::untrusted_owner, last, std::nullopt};
    for (const p::Ace& ace : parts->dacl->aces) {
        if (ace.flags & p::INHERIT_ONLY_ACE) continue;
        if (ace.type == p::ACCESS_ALLOWED_ACE_TYPE) {
            if (ace.size < 12)
                return PathWalkFailure{PathWalkReason::ace_unreadable, last, std::nullopt};
            if ((ace.mask & write_mask) != 0 && !is_trusted(ace.sid))
                return PathWalkFailure{PathWalkReason::untrusted_writer, last, std::nullopt};
        } else if (ace.type > p::SYSTEM_ALARM_ACE_TYPE) {
            return PathWalkFailure{PathWalkReason::untrusted_writer, last, std::nullopt};
        }
    }
    return std::nullopt;
}

std::expected<PinnedPath, PathWalkFailure> walk_trusted_path(p::Os& os, std::u16string_view path,
                                                             WalkHold hold) {
    if (path.empty()) return failure(PathWalkReason::bad_prefix, false);
    if (!p::is_absolute_path(path)) return failure(PathWalkReason::not_absolute, false);
    // "X:" followed by the root separator; device, UNC and "\\?\" forms are refused.
    if (path.size() < 3 || !is_drive_letter(path[0]) || path[1] != u':' ||
        !p::is_separator(path[2]))
        return failure(PathWalkReason::bad_prefix, path.size() <= 3);
    // The names after the root; an empty one (a doubled or trailing
    // separator) is no plain name.
    std::vector<std::u16string_view> names;
    const std::u16string_view rest = path.substr(3);
    if (!rest.empty()) {
        size_t start = 0;
        for (size_t i = 0; i <= rest.size(); ++i) {
            if (i < rest.size() && !p::is_separator(rest[i])) continue;
            names.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    }
    // Every name is checked before anything is opened.
    for (size_t i = 0; i < names.size(); ++i)
        if (!is_plain_name(names[i]))
            return failure(PathWalkReason::bad_component, i + 1 == names.size());

    PinnedPath pinned;
    std::u16string walked(path.substr(0, 2));
    walked.push_back(u'\\');
    for (size_t i = 0; i <= names.size(); ++i) {
        const bool last = i == names.size();
        if (i > 0) {
            if (walked.back() != u'\\') walked.push_back(u'\\');
            walked.append(names[i - 1]);
        }
        const bool pin = hold == WalkHold::pin;
        const uint32_t access = !pin ? kPinAccess : last ? kPinLastAccess : kPinDirectoryAccess;
        const uint32_t share = !pin ? p::FILE_SHARE_ALL : last ? kPinLastShare : kPinDirectoryShare;
        auto h = os.files.create_file(walked, access, share, p::OPEN_EXISTING, kPinFlags);
        if (!h) return failure(PathWalkReason::open_failed, last, code_of(h.error()));
        auto info = os.files.get_file_information_by_handle(*h);
        if (!info) return failure(PathWalkReason::information_failed, last, code_of(info.error()));
        if (info->file_attributes & p::FILE_ATTRIBUTE_REPARSE_POINT)
            return failure(PathWalkReason::reparse_point, last);
        const bool is_dir = (info->file_attributes & p::FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!is_dir && !last) return failure(PathWalkReason::not_a_directory, last);
        if (!is_dir && info->number_of_links != 1) return failure(PathWalkReason::link_count, last);
        const uint32_t mask = i == 0 ? kVolumeRootWriteMask : kWriteMask;
        if (auto bad = check_object_security(os, *h, mask, last)) return std::unexpected(*bad);
        pinned.handles.push_back(std::move(*h));
    }
    return pinned;
}

}  // namespace holvar::v3
