#include "wine_shims/wine_shimmed_os.hpp"

#include <algorithm>
#include <cstring>

#include "platform/win32/buffer_words.hpp"
#include "platform/win32/file_info_classes.hpp"
#include "platform/win32/windows_api.hpp"
#include "platform/win_path.hpp"
#include "wine_shims/answer_rewrites.hpp"

namespace holvar::wine_shims {
namespace {

constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kSharingViolation = 32;
bool wine_ntdll() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The user of this process's own token.
platform::Sid own_user() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::vector<uint64_t> storage(win32::words_for_bytes(512));
    DWORD written = 0;
    platform::Sid out;
    if (GetTokenInformation(token, TokenUser, storage.data(), 512, &written)) {
        const auto* user = reinterpret_cast<const TOKEN_USER*>(storage.data());
        const auto* sid = static_cast<const uint8_t*>(user->User.Sid);
        out.bytes.assign(sid, sid + GetLengthSid(user->User.Sid));
    }
    CloseHandle(token);
    return out;
}

// "\\.\C:" and "\\?\C:": a volume, not its root directory.
bool is_volume_device(std::u16string_view path) {
    return path.size() == 6 && path[0] == u'\\' && path[1] == u'\\' &&
           (path[2] == u'.' || path[2] == u'?') && path[3] == u'\\' &&
           ((path[4] >= u'A' && path[4] <= u'Z') || (path[4] >= u'a' && path[4] <= u'z')) &&
           path[5] == u':';
}

bool same_id(const platform::FileIdInfo& a, const platform::FileIdInfo& b) {
    return a.volume_serial_number == b.volume_serial_number && a.file_id == b.file_id;
}

}  // namespace

std::string_view shim_name(Shim shim) {
    switch (shim) {
        case Shim::rename_ex:
            return "rename_ex";
        case Shim::disposition_ex:
            return "disposition_ex";
        case Shim::volume_flags:
            return "volume_flags";
        case Shim::volume_flush:
            return "volume_flush";
        case Shim::owner_sids:
            return "owner_sids";
        case Shim::other_token_user:
            return "other_token_user";
        case Shim::list_shared:
            return "list_shared";
    }
    return "unknown";
}

ShimState::ShimState() : active_(wine_ntdll()) {
    if (active_) wine_user_ = own_user();
    // Without the Wine user's SID there is nothing to map: that shim stays off.
}

void ShimState::end_after_renames(uint64_t n) {
    std::lock_guard lock(mutex_);
    end_after_renames_ = n;
}

void ShimState::renamed() {
    std::lock_guard lock(mutex_);
    if (++renames_ == end_after_renames_) TerminateProcess(GetCurrentProcess(), kKilledExitCode);
}

void ShimState::used(Shim shim) {
    std::lock_guard lock(mutex_);
    ++uses_[static_cast<size_t>(shim)];
}

std::array<uint64_t, kShimCount> ShimState::uses() const {
    std::lock_guard lock(mutex_);
    return uses_;
}

void ShimState::mark(HandleMark kind, uint64_t raw) {
    std::lock_guard lock(mutex_);
    marks_[static_cast<size_t>(kind)].insert(raw);
}

bool ShimState::marked(HandleMark kind, uint64_t raw) const {
    std::lock_guard lock(mutex_);
    return marks_[static_cast<size_t>(kind)].count(raw) != 0;
}

void ShimState::forget(uint64_t raw) {
    std::lock_guard lock(mutex_);
    for (auto& marked : marks_) marked.erase(raw);
}

void ShimState::mark_ordinary_user(const platform::FileIdInfo& id) {
    std::lock_guard lock(mutex_);
    ordinary_users_.push_back(id);
}

bool ShimState::is_ordinary_users(const platform::FileIdInfo& id) const {
    std::lock_guard lock(mutex_);
    return std::any_of(ordinary_users_.begin(), ordinary_users_.end(),
                       [&](const platform::FileIdInfo& marked) { return same_id(marked, id); });
}

void ShimCloser::close_handle(platform::HandleKind kind, uint64_t raw) noexcept {
    // Forgotten before the value can be handed out again.
    state_.forget(raw);
    real_.close_handle(kind, raw);
}

platform::Result<platform::Handle> ShimmedFiles::create_file(
    const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition,
    uint32_t flags_and_attributes, const platform::SecurityDescriptor* sd) {
    auto h = Win32Files::create_file(path, access, share, disposition, flags_and_attributes, sd);
    if (h && state_.active() && is_volume_device(path)) state_.mark(HandleMark::volume, h->raw());
    return h;
}

platform::Status ShimmedFiles::flush_file_buffers(const platform::Handle& h) {
    auto real = Win32Files::flush_file_buffers(h);
    if (!real && real.error().is_win32(kInvalidFunction) && state_.active() &&
        state_.marked(HandleMark::volume, h.raw())) {
        state_.used(Shim::volume_flush);
        return {};
    }
    return real;
}

platform::Status ShimmedFiles::set_file_rename_info_ex(const platform::Handle& h,
                                                       const std::u16string& target,
                                                       uint32_t flags) {
    auto real = Win32Files::set_file_rename_info_ex(h, target, flags);
    if (real) state_.renamed();
    if (real || !real.error().is_win32(platform::win32::invalid_parameter) || !state_.active())
        return real;
    // The older class renames within the directory only for a bare name and
    // has no flags but ReplaceIfExists: only full paths are passed on.
    if (!platform::is_absolute_path(target)) return real;
    const DWORD replace = (flags & FILE_RENAME_FLAG_REPLACE_IF_EXISTS) ? 1 : 0;
    win32::RenameRecord record(replace, target);
    if (!SetFileInformationByHandle(win32::to_native(h),
                                    win32::info_class(win32::file_rename_info_class), record.data(),
                                    record.bytes()))
        return win32::last_error();
    state_.used(Shim::rename_ex);
    state_.renamed();
    return {};
}

// Wine's FindFirstFileExW opens the folder sharing read and write only, so it
// fails with 32 while the engine holds the folder open for delete; Windows'
// listing shares delete too. The folder is listed instead through a handle of
// its own that shares everything ("<dir>\\*" patterns only).
platform::Result<std::vector<platform::FindData>> ShimmedFiles::find_files(
    const std::u16string& pattern) {
    auto real = Win32Files::find_files(pattern);
    if (real || !real.error().is_win32(kSharingViolation) || !state_.active() ||
        pattern.size() < 3 || pattern.substr(pattern.size() - 2) != u"\\*")
        return real;
    const std::u16string folder = pattern.substr(0, pattern.size() - 2);
    HANDLE dir = CreateFileW(reinterpret_cast<const wchar_t*>(folder.c_str()),
                             FILE_LIST_DIRECTORY | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) return real;
    std::vector<platform::FindData> entries;
    std::vector<uint64_t> buffer(8192);
    FILE_INFO_BY_HANDLE_CLASS info_class = FileFullDirectoryRestartInfo;
    bool listed = true;
    while (GetFileInformationByHandleEx(dir, info_class, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
        info_class = FileFullDirectoryInfo;
        const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
        for (;;) {
            const auto* e = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes);
            platform::FindData d;
            d.file_attributes = e->FileAttributes;
            // As WIN32_FIND_DATAW's dwReserved0: the reparse tag of a reparse point.
            d.reserved0 = (e->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? e->EaSize : 0;
            d.file_size = static_cast<uint64_t>(e->EndOfFile.QuadPart);
            d.file_name = win32::from_wide(e->FileName, e->FileNameLength / sizeof(wchar_t));
            entries.push_back(std::move(d));
            if (e->NextEntryOffset == 0) break;
            bytes += e->NextEntryOffset;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) listed = false;
    CloseHandle(dir);
    if (!listed) return real;
    state_.used(Shim::list_shared);
    return entries;
}

platform::Status ShimmedFiles::set_file_disposition_info_ex(const platform::Handle& h,
                                                            uint32_t flags) {
    auto real = Win32Files::set_file_disposition_info_ex(h, flags);
    if (real || !real.error().is_win32(platform::win32::invalid_parameter) || !state_.active())
        return real;
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = (flags & FILE_DISPOSITION_FLAG_DELETE) ? TRUE : FALSE;
    if (!SetFileInformationByHandle(win32::to_native(h),
                                    win32::info_class(win32::file_disposition_info_class), &info,
                                    sizeof(info)))
        return win32::last_error();
    state_.used(Shim::disposition_ex);
    return {};
}

platform::Result<uint32_t> ShimmedFiles::get_volume_file_system_flags(
    const std::u16string& root_path) {
    auto real = Win32Files::get_volume_file_system_flags(root_path);
    constexpr uint32_t added =
        FILE_SUPPORTS_HARD_LINKS | platform::FILE_SUPPORTS_POSIX_UNLINK_RENAME;
    if (!real || !state_.active() || (*real & added) == added) return real;
    state_.used(Shim::volume_flags);
    return *real | added;
}

platform::Result<platform::SecurityDescriptor> ShimmedSecurity::get_security_info(
    const platform::Handle& h, uint32_t object_type, uint32_t security_info) {
    auto real = Win32Security::get_security_info(h, object_type, security_info);
    if (!real || !state_.active() || state_.wine_user().bytes.empty()) return real;
    if (object_type == platform::SE_FILE_OBJECT) {
        auto id = files_.get_file_id_info(h);
        if (id && state_.is_ordinary_users(*id)) return real;
    }
    auto administrators = platform::sid_from_string(platform::sids::administrators);
    if (!administrators) return real;
    auto mapped = reassign_sid(*real, state_.wine_user(), *administrators);
    if (!mapped) return real;
    if (mapped->bytes != real->bytes) state_.used(Shim::owner_sids);
    return mapped;
}

platform::Result<platform::Handle> ShimmedSecurity::open_process_token(
    const platform::Handle* process, uint32_t access) {
    auto token = Win32Security::open_process_token(process, access);
    if (token && process != nullptr && state_.active())
        state_.mark(HandleMark::foreign_token, token->raw());
    return token;
}

platform::Result<platform::TokenInformation> ShimmedSecurity::get_token_information(
    const platform::Handle& token, uint32_t info_class, uint32_t buffer_bytes) {
    auto real = Win32Security::get_token_information(token, info_class, buffer_bytes);
    if (!real || info_class != platform::TokenUser || !state_.active() ||
        !state_.marked(HandleMark::foreign_token, token.raw()))
        return real;
    auto system = platform::sid_from_string(platform::sids::local_system);
    if (!system) return real;
    auto mapped = token_user_as(*real, *system);
    if (mapped.bytes != real->bytes) state_.used(Shim::other_token_user);
    return mapped;
}

WineShimmedOs::WineShimmedOs()
    : closer_(state_),
      files_(closer_, state_),
      security_(closer_, files_, state_),
      sync_(closer_),
      processes_(closer_),
      services_(closer_),
      registry_(closer_),
      restart_manager_(closer_),
      pipes_(closer_),
      os_{files_,    security_,        sync_, clock_, processes_, services_,
          registry_, restart_manager_, pipes_} {}

}  // namespace holvar::wine_shims
