// Runs the holvar-sim executable as a separate process, the way a setup
// script or a support engineer would, on a machine file in a fresh folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace holvar::e2e {

struct CliResult {
    int exit_code = -1;
    std::string out;
    std::string err;

    // The last line of standard output, without its line break.
    std::string last_line() const;
};

class SimCli {
  public:
    SimCli();  // a new folder; the machine file in it is not created yet
    ~SimCli();
    SimCli(const SimCli&) = delete;
    SimCli& operator=(const SimCli&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    std::string machine() const { return (folder_ / "machine.json").string(); }

    // holvar-sim with these arguments; no shell in between.
    CliResult run(const std::vector<std::string>& args) const;

    // Shorthands that expect success.
    void init() const;
    // Stages a transaction beside `root`; returns the engine's Windows path.
    std::string stage(const std::string& root, const std::string& txid) const;
    // The engine with these arguments.
    CliResult engine(const std::string& exe, const std::vector<std::string>& engine_args) const;
    // The bytes of a file of the machine (holvar-sim cat); empty when missing.
    std::string cat(const std::string& winpath) const;
    // holvar-sim ls, one entry per element.
    std::vector<std::string> ls(const std::string& winpath) const;

    // The bytes of a real file.
    static std::string read_real(const std::filesystem::path& file);

  private:
    std::filesystem::path folder_;
};

}  // namespace holvar::e2e
