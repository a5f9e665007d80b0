#include "platform/sim/user_hands.hpp"

#include "platform/sim/programs.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr const char16_t* kShellImage = u"C:\\Windows\\System32\\cmd.exe";
constexpr const char16_t* kHolderImage = u"C:\\Windows\\System32\\notepad.exe";
constexpr uint32_t kDeletePosix =
    FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
constexpr uint32_t kRenamePosix = FILE_RENAME_FLAG_POSIX_SEMANTICS;

}  // namespace

UserHands::UserHands(Machine& machine, const Token& token)
    : machine_(machine), token_(token), pid_(machine.spawn_process(kShellImage, token)) {}

UserHands::~UserHands() {
    machine_.exit_process(pid_, 0);
}

Status UserHands::make_directory(const std::u16string& path) {
    ProcessOs process(machine_, pid_);
    return process.os().files.create_directory(path, nullptr);
}

Status UserHands::write_file(const std::u16string& path, const std::vector<uint8_t>& bytes) {
    ProcessOs process(machine_, pid_);
    auto file =
        process.os().files.create_file(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, 0);
    if (!file) return std::unexpected(file.error());
    std::span<const uint8_t> rest(bytes);
    while (!rest.empty()) {
        auto written = process.os().files.write_file(*file, rest);
        if (!written) return std::unexpected(written.error());
        if (*written == 0) return win32_error(win32::write_fault);
        rest = rest.subspan(*written);
    }
    return process.os().files.flush_file_buffers(*file);
}

Result<std::vector<uint8_t>> UserHands::read_file(const std::u16string& path) {
    ProcessOs process(machine_, pid_);
    auto file = process.os().files.create_file(
        path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (!file) return std::unexpected(file.error());
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> chunk(1 << 16);
    for (;;) {
        auto got = process.os().files.read_file(*file, chunk);
        if (!got) return std::unexpected(got.error());
        if (*got == 0) return bytes;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(*got));
    }
}

Status UserHands::remove(const std::u16string& path) {
    ProcessOs process(machine_, pid_);
    auto h = process.os().files.create_file(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                            OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!h) return std::unexpected(h.error());
    return process.os().files.set_file_disposition_info_ex(*h, kDeletePosix);
}

Status UserHands::rename(const std::u16string& path, const std::u16string& target) {
    ProcessOs process(machine_, pid_);
    auto h = process.os().files.create_file(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                            OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!h) return std::unexpected(h.error());
    return process.os().files.set_file_rename_info_ex(*h, target, kRenamePosix);
}

Status UserHands::make_hard_link(const std::u16string& link, const std::u16string& existing) {
    ProcessOs process(machine_, pid_);
    return process.os().files.create_hard_link(link, existing);
}

Status UserHands::make_junction(const std::u16string& path, const std::u16string& target) {
    // Creating the folder is the check: the user may add a folder there. The
    // mount point then goes onto the empty folder the user owns.
    if (Status made = make_directory(path); !made) return made;
    if (Status removed = machine_.remove(path); !removed) return removed;
    return machine_.make_junction(path, target, token_.user);
}

Result<uint32_t> UserHands::hold(const std::u16string& path, uint32_t share) {
    const uint32_t pid = machine_.spawn_process(kHolderImage, token_);
    {
        // The open is the check, against the DACLs and every other handle's
        // sharing; what the process then keeps is the same open, its own
        // until it ends.
        ProcessOs process(machine_, pid);
        auto h = process.os().files.create_file(path, GENERIC_READ, share, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS);
        if (!h) {
            machine_.exit_process(pid, 0);
            return std::unexpected(h.error());
        }
        hold_file(machine_.state(), pid, path, FILE_READ_DATA, share);
    }
    return pid;
}

}  // namespace holvar::sim
