// A test-only adapter over the real Win32 boundary, for running the engine
// under Wine. It is never linked into holvar-service-install.exe. It makes
// every real call first and passes every answer on, except seven, each where
// Wine's own answer is a known gap (tests/conformance/README.md lists them
// with what each hides); and only when ntdll exports wine_get_version: on
// Windows it changes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "platform/win32/clock.hpp"
#include "platform/win32/files.hpp"
#include "platform/win32/handle_closer.hpp"
#include "platform/win32/pipes.hpp"
#include "platform/win32/processes.hpp"
#include "platform/win32/registry.hpp"
#include "platform/win32/restart_manager.hpp"
#include "platform/win32/security.hpp"
#include "platform/win32/services.hpp"
#include "platform/win32/sync.hpp"

namespace holvar::wine_shims {

enum class Shim : uint8_t {
    rename_ex,         // FileRenameInfoEx 87: FileRenameInfo, ReplaceIfExists from the flags
    disposition_ex,    // FileDispositionInfoEx 87: FileDispositionInfo
    volume_flags,      // hard links and POSIX unlink/rename added to the volume flags
    volume_flush,      // error 1 from FlushFileBuffers on a volume handle is success
    owner_sids,        // the Wine user's SID read as Administrators (owner and ACEs)
    other_token_user,  // the user of another process's token read as LocalSystem
    list_shared,       // 32 from FindFirstFileExW: the folder listed through a handle
                       // that shares delete, as Windows' own listing does
};
inline constexpr size_t kShimCount = 7;
std::string_view shim_name(Shim shim);

// Handles the shims must recognise: a volume opened by its device path, the
// token of another process.
enum class HandleMark : uint8_t { volume, foreign_token };

// What the shims share: whether they act, the SIDs they map, the handles
// they must recognise, and how often each changed an answer.
class ShimState {
  public:
    ShimState();
    bool active() const { return active_; }
    const platform::Sid& wine_user() const { return wine_user_; }
    void used(Shim shim);
    std::array<uint64_t, kShimCount> uses() const;

    // A kill at an exact point, as a test asks: the process ends at once, with
    // kKilledExitCode, right after its n-th successful rename by handle
    // (0: never), leaving the machine as a crash there would.
    static constexpr uint32_t kKilledExitCode = 3;
    void end_after_renames(uint64_t n);
    void renamed();

    void mark(HandleMark kind, uint64_t raw);
    bool marked(HandleMark kind, uint64_t raw) const;
    void forget(uint64_t raw);  // the handle was closed

    // Objects a test made as an ordinary user's keep the Wine user as owner.
    void mark_ordinary_user(const platform::FileIdInfo& id);
    bool is_ordinary_users(const platform::FileIdInfo& id) const;

  private:
    bool active_ = false;
    platform::Sid wine_user_;
    mutable std::mutex mutex_;
    std::array<uint64_t, kShimCount> uses_{};
    uint64_t renames_ = 0;
    uint64_t end_after_renames_ = 0;
    std::array<std::set<uint64_t>, 2> marks_;
    std::vector<platform::FileIdInfo> ordinary_users_;
};

// Closes through the real closer and forgets the handle's marks first.
class ShimCloser final : public platform::HandleCloser {
  public:
    explicit ShimCloser(ShimState& state) : state_(state) {}
    void close_handle(platform::HandleKind kind, uint64_t raw) noexcept override;

  private:
    ShimState& state_;
    win32::Win32HandleCloser real_;
};

class ShimmedFiles final : public win32::Win32Files {
  public:
    ShimmedFiles(platform::HandleCloser& closer, ShimState& state)
        : Win32Files(closer), state_(state) {}
    platform::Result<platform::Handle> create_file(const std::u16string& path, uint32_t access,
                                                   uint32_t share, uint32_t disposition,
                                                   uint32_t flags_and_attributes,
                                                   const platform::SecurityDescriptor* sd) override;
    platform::Status flush_file_buffers(const platform::Handle& h) override;
    platform::Status set_file_rename_info_ex(const platform::Handle& h,
                                             const std::u16string& target, uint32_t flags) override;
    platform::Status set_file_disposition_info_ex(const platform::Handle& h,
                                                  uint32_t flags) override;
    platform::Result<uint32_t> get_volume_file_system_flags(
        const std::u16string& root_path) override;
    platform::Result<std::vector<platform::FindData>> find_files(
        const std::u16string& pattern) override;

  private:
    ShimState& state_;
};

class ShimmedSecurity final : public win32::Win32Security {
  public:
    ShimmedSecurity(platform::HandleCloser& closer, platform::Files& files, ShimState& state)
        : Win32Security(closer), files_(files), state_(state) {}
    platform::Result<platform::SecurityDescriptor> get_security_info(
        const platform::Handle& h, uint32_t object_type, uint32_t security_info) override;
    platform::Result<platform::Handle> open_process_token(const platform::Handle* process,
                                                          uint32_t access) override;
    platform::Result<platform::TokenInformation> get_token_information(
        const platform::Handle& token, uint32_t info_class, uint32_t buffer_bytes) override;

  private:
    platform::Files& files_;
    ShimState& state_;
};

// The whole boundary: the six shims above, every other call the real one.
class WineShimmedOs {
  public:
    WineShimmedOs();
    WineShimmedOs(const WineShimmedOs&) = delete;
    WineShimmedOs& operator=(const WineShimmedOs&) = delete;

    platform::Os& os() { return os_; }
    ShimState& state() { return state_; }

  private:
    ShimState state_;
    ShimCloser closer_;
    ShimmedFiles files_;
    ShimmedSecurity security_;
    win32::Win32Sync sync_;
    win32::Win32Clock clock_;
    win32::Win32Processes processes_;
    win32::Win32Services services_;
    win32::Win32Registry registry_;
    win32::Win32RestartManager restart_manager_;
    win32::Win32Pipes pipes_;
    platform::Os os_;
};

}  // namespace holvar::wine_shims
