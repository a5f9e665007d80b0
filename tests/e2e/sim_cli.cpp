#include "e2e/sim_cli.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace holvar::e2e {

std::string CliResult::last_line() const {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const auto cut = text.rfind('\n');
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

SimCli::SimCli() {
    std::string pattern = (std::filesystem::temp_directory_path() / "holvar-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
}

SimCli::~SimCli() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

std::string SimCli::read_real(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CliResult SimCli::run(const std::vector<std::string>& args) const {
    const std::string out_file = (folder_ / "stdout").string();
    const std::string err_file = (folder_ / "stderr").string();
    std::vector<std::string> words{HOLVAR_SIM_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, HOLVAR_SIM_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CliResult result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << HOLVAR_SIM_EXE;
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_real(out_file);
    result.err = read_real(err_file);
    return result;
}

void SimCli::init() const {
    const auto made = run({"init", machine()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
}

std::string SimCli::stage(const std::string& root, const std::string& txid) const {
    const auto staged = run({"stage", machine(), "--root", root, "--txid", txid});
    EXPECT_EQ(staged.exit_code, 0) << staged.err;
    return staged.last_line();
}

CliResult SimCli::engine(const std::string& exe,
                         const std::vector<std::string>& engine_args) const {
    std::vector<std::string> args{"run", machine(), "--exe", exe, "--"};
    args.insert(args.end(), engine_args.begin(), engine_args.end());
    return run(args);
}

std::string SimCli::cat(const std::string& winpath) const {
    const auto shown = run({"cat", machine(), winpath});
    return shown.exit_code == 0 ? shown.out : std::string();
}

std::vector<std::string> SimCli::ls(const std::string& winpath) const {
    const auto listed = run({"ls", machine(), winpath});
    std::vector<std::string> lines;
    std::istringstream in(listed.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace holvar::e2e
