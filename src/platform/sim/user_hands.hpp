// What an ordinary, unprivileged user can do to the machine's files. Every
// action is a boundary call of a process that runs with the user's token, so
// the simulated machine checks it against the DACLs and share modes exactly
// as it checks the engine's own calls: an attacker scenario can do only what
// an ordinary user may.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/machine.hpp"

namespace holvar::sim {

class UserHands {
  public:
    // The user's shell: a process of the machine with `token` (an ordinary
    // user's by default) that exists while the hands do.
    explicit UserHands(Machine& machine, const Token& token = user_token());
    ~UserHands();
    UserHands(const UserHands&) = delete;
    UserHands& operator=(const UserHands&) = delete;

    // CreateDirectoryW with default security (inherited from the parent).
    platform::Status make_directory(const std::u16string& path);
    // CreateFileW(CREATE_ALWAYS) and the bytes written: a new file, or an
    // existing one overwritten (links followed, as any program does).
    platform::Status write_file(const std::u16string& path, const std::vector<uint8_t>& bytes);
    // CreateFileW(OPEN_EXISTING) for reading, and every byte read.
    platform::Result<std::vector<uint8_t>> read_file(const std::u16string& path);
    // One name deleted by handle, without following it (an empty folder too).
    platform::Status remove(const std::u16string& path);
    // A name moved by handle to `target` (same volume, never replacing).
    platform::Status rename(const std::u16string& path, const std::u16string& target);
    // CreateHardLinkW(link, existing).
    platform::Status make_hard_link(const std::u16string& link, const std::u16string& existing);
    // A junction to `target`: the user creates the folder and makes it a
    // mount point, which its owner may do.
    platform::Status make_junction(const std::u16string& path, const std::u16string& target);
    // A new process of the user that opens `path` for reading (links
    // followed, a folder too) sharing `share`, and keeps it open until it
    // ends. Its pid.
    platform::Result<uint32_t> hold(const std::u16string& path, uint32_t share);

  private:
    Machine& machine_;
    Token token_;
    uint32_t pid_;
};

}  // namespace holvar::sim
