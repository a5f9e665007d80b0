#include "machine_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace holvar::simtool {
namespace {

std::string quoted(const std::string& file) {
    return "machine file '" + file + "'";
}

bool write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

}  // namespace

ToolResult<std::unique_ptr<sim::Machine>> load_machine(const std::string& file) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) {
        return usage(quoted(file) + " does not exist (create one with: holvar-sim init " + file +
                     ")");
    }
    if (!std::filesystem::is_regular_file(status)) {
        return usage(quoted(file) + " is not a regular file");
    }
    auto machine = sim::Machine::load(file);
    if (!machine) {
        return usage(quoted(file) + " is not a readable machine (" + describe(machine.error()) +
                     "); it was left unchanged");
    }
    return std::move(*machine);
}

ToolResult<void> save_machine(const sim::Machine& machine, const std::string& file) {
    const std::string text = machine.to_json();
    const std::string temporary = file + ".tmp-" + std::to_string(::getpid());
    Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        return usage("cannot write " + quoted(file) + ": " + std::strerror(errno));
    }
    const bool written = write_all(fd.get(), text) && ::fsync(fd.get()) == 0;
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), file.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        return usage("cannot write " + quoted(file) + ": " + reason);
    }
    // The rename is durable once the folder that holds the name is flushed.
    const auto folder = std::filesystem::absolute(file).parent_path();
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return {};
}

}  // namespace holvar::simtool
