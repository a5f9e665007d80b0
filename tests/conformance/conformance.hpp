// Conformance scenarios: claims about Windows written once against the OS
// boundary. The same sources run on the simulated machine (natively, under
// ctest) and on the real Win32 implementation (conformance-tests.exe, under
// Wine in CI), so every disagreement between the two shows up as a failure.
//
// Each harness defines `open_host`: a fresh place to work for one case.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "platform/win_path.hpp"

namespace holvar::conformance {

// A program of the suite's own that a case starts as a second process:
// conformance-helper.exe on Windows, a simulated program on the simulated
// machine. Each mode does one thing and nothing else.
struct HelperSpec {
    enum class Mode : uint8_t {
        exit_code,    // runs `run_ms` (0 = at once), then exits with `exit_code`
        environment,  // writes its environment block to `file`, then exits 0
        pipe_echo,    // serves \\.\pipe\<name> (`instances`), echoes every byte after `delay_ms`
        pipe_silent,  // serves \\.\pipe\<name> (`instances`), accepts and never reads
        mutex_hold,   // takes mutex `name`, creates `file`, holds it `delay_ms`, releases, exits 0
        mutex_abandon,  // takes mutex `name`, creates `file`, exits 0 still holding it
        service,        // a service process: reports running, stops on the stop control
        file_holder,    // opens `file` for reading, sharing read only, creates `file`.held, runs on
    };
    Mode mode = Mode::exit_code;
    uint32_t exit_code = 0;
    uint32_t run_ms = 0;
    uint32_t delay_ms = 0;
    uint32_t instances = 1;
    std::u16string name;  // the pipe (after "\\.\pipe\"), the mutex, or the service
    std::u16string file;  // an absolute path
};

// How to start a helper: its image and its full command line (for a service,
// the binary path).
struct HelperCommand {
    std::u16string image;
    std::u16string command_line;
};

// What a case runs against: an Os, an empty directory of its own, and the
// process's current directory (set by the harness to C:\Windows\System32).
class Host {
  public:
    virtual ~Host() = default;
    virtual platform::Os& os() = 0;
    // Absolute, existing, empty; named as the system reports its final path.
    virtual const std::u16string& work_directory() const = 0;
    virtual const std::u16string& current_directory() const = 0;
    // True when the Win32 implementation runs under Wine.
    virtual bool on_wine() const = 0;
    // The image file name every helper runs as (for snapshots and image queries).
    static constexpr std::u16string_view helper_image_name = u"conformance-helper.exe";
    virtual platform::Result<HelperCommand> helper(const HelperSpec& spec) = 0;
    // Fixture, not a boundary call: makes `link` (absent; its parent exists) a
    // junction to the absolute directory path `target`.
    virtual platform::Status make_junction(const std::u16string& link,
                                           const std::u16string& target) = 0;
};

std::unique_ptr<Host> open_host();

// Behaviours that Wine 8.0 does not implement. A case that needs one is
// skipped on Wine only, never on the simulated machine.
namespace wine_gap {
inline constexpr const char* info_ex_classes =
    "SetFileInformationByHandle with FileRenameInfoEx and FileDispositionInfoEx returns 87";
inline constexpr const char* file_owners = "file owners are always the Wine user";
inline constexpr const char* volume_flags =
    "the volume flags report neither hard links nor POSIX unlink/rename";
inline constexpr const char* token_user = "the process token's user is not LocalSystem";
inline constexpr const char* restart_manager = "Restart Manager lists no holders";
// Seen by this suite on Wine 8.0.
inline constexpr const char* unix_rooted_path =
    "a path rooted with '/' is taken as a Unix path on drive Z:";
inline constexpr const char* case_only_rename =
    "a rename that changes only the letter case keeps the old name";
inline constexpr const char* final_path_after_rename =
    "the final path of an open handle keeps the name it was opened by after a rename";
inline constexpr const char* read_only_as_root =
    "run as root, a read-only file opens for writing (Unix permissions do not bind root)";
inline constexpr const char* owner_only_descriptor =
    "GetSecurityInfo for the owner alone also reports a DACL";
inline constexpr const char* junctions =
    "FSCTL_SET_REPARSE_POINT is not supported (50): no junction can be made";
inline constexpr const char* volume_flush =
    "FlushFileBuffers on a volume handle (\\\\.\\C:) fails with 1 (ERROR_INVALID_FUNCTION)";
inline constexpr const char* directory_with_open_files =
    "a directory is renamed while files below it are open";
inline constexpr const char* child_environment =
    "a child given an environment block also gets Wine's own variables "
    "(WINE*, SystemDrive, SystemRoot)";
}  // namespace wine_gap

// Text for failure messages.
std::string narrow(std::u16string_view text);
std::string describe(const platform::Error& error);

// A helper process a case started: ended, if it still runs, and waited for
// when the case is done with it, so no case leaves a process behind.
class Child {
  public:
    Child(platform::Os& os, platform::CreatedProcess created)
        : os_(&os), created_(std::move(created)) {}
    Child(Child&&) = default;
    Child& operator=(Child&&) = delete;
    ~Child();

    const platform::Handle& process() const { return created_.process; }
    uint32_t pid() const { return created_.process_id; }
    // Waits at most `timeout_ms` for it to end: its exit code, or
    // WAIT_TIMEOUT (258) as an error when it still runs.
    platform::Result<uint32_t> wait_exit(uint32_t timeout_ms);

  private:
    platform::Os* os_;
    platform::CreatedProcess created_;
};

class Case : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    platform::Os& os() { return host_->os(); }
    platform::Files& files() { return host_->os().files; }
    bool on_wine() const { return host_->on_wine(); }
    const std::u16string& work() const { return host_->work_directory(); }
    const std::u16string& cwd() const { return host_->current_directory(); }
    // work directory \ rel
    std::u16string at(std::u16string_view rel) const;

    // Opens with OPEN_EXISTING and no flags unless given.
    platform::Result<platform::Handle> open(const std::u16string& path, uint32_t access,
                                            uint32_t share, uint32_t flags = 0);
    // Creates a new file (CREATE_NEW) holding `bytes`.
    platform::Status make_file(const std::u16string& path, std::string_view bytes = "data");
    platform::Result<std::string> read_all(const std::u16string& path);
    platform::Result<platform::FileIdInfo> file_id_of(const std::u16string& path);
    // A key of this case's own under HKEY_LOCAL_MACHINE:
    // Software\HolvarConformance\<process id>-<work folder name>[\rel].
    std::u16string key_path(std::u16string_view rel = {}) const;
    // A name for kernel objects and services no other case or run shares:
    // prefix, process id, work folder name.
    std::u16string unique_name(std::u16string_view prefix) const;

    // Starts a helper as a child of this process; `environment` is a
    // Unicode block ("A=1\0\0"; empty = inherited), `job` a job to start in.
    platform::Result<Child> start_helper(const HelperSpec& spec,
                                         const std::u16string& environment = {},
                                         const platform::Handle* job = nullptr);
    // Starts a helper from a copy of its image made at `image` (absent; its
    // folder exists), which the case may then rename, pin or try to write.
    platform::Result<Child> start_helper_copy(const HelperSpec& spec, const std::u16string& image);
    platform::Result<HelperCommand> helper(const HelperSpec& spec) { return host_->helper(spec); }
    platform::Status make_junction(const std::u16string& link, const std::u16string& target) {
        return host_->make_junction(link, target);
    }
    // Opens "\\.\pipe\<name>" for reading and writing, overlapped, retrying
    // while no server listens yet (2) or every instance made so far is taken
    // (231), for at most `limit`.
    platform::Result<platform::Handle> connect_pipe(const std::u16string& name,
                                                    platform::Duration limit);
    // Waits (on the boundary's clock) until `path` exists, at most `limit`.
    bool wait_for_file(const std::u16string& path, platform::Duration limit);

  private:
    std::unique_ptr<Host> host_;
};

}  // namespace holvar::conformance

// Skips the case on Wine only, naming the gap; the simulated machine always runs it.
#define SKIP_ON_WINE(gap)                                     \
    do {                                                      \
        if (on_wine()) GTEST_SKIP() << "wine gap: " << (gap); \
    } while (0)

// Unwraps a Result or Status, failing the case with the error.
#define ASSERT_OK(expr)                                                                       \
    do {                                                                                      \
        const auto& conformance_result_ = (expr);                                             \
        ASSERT_TRUE(conformance_result_.has_value())                                          \
            << #expr << ": " << ::holvar::conformance::describe(conformance_result_.error()); \
    } while (0)

// Expects a Result or Status to fail with one Win32 code.
#define EXPECT_WIN32(expr, code)                                                                 \
    do {                                                                                         \
        const auto& conformance_result_ = (expr);                                                \
        if (conformance_result_.has_value()) {                                                   \
            ADD_FAILURE() << #expr << ": succeeded, expected Win32 error " << (code);            \
        } else {                                                                                 \
            EXPECT_TRUE(conformance_result_.error().is_win32(code))                              \
                << #expr << ": " << ::holvar::conformance::describe(conformance_result_.error()) \
                << ", expected Win32 error " << (code);                                          \
        }                                                                                        \
    } while (0)
