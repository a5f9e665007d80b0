// Move-only ownership of an OS handle: it is closed through the OS object that
// opened it, on every path, exactly once.
#pragma once

#include <cstdint>
#include <utility>

namespace holvar::platform {

// Which close call a raw handle needs (CloseHandle, CloseServiceHandle, RegCloseKey, ...).
enum class HandleKind : uint8_t {
    kernel,   // CloseHandle: files, directories, volumes, mutexes, processes, jobs, pipes, tokens
    service,  // CloseServiceHandle: SCM and service handles
    registry_key  // RegCloseKey
};

class HandleCloser {
  public:
    virtual void close_handle(HandleKind kind, uint64_t raw) noexcept = 0;

  protected:
    ~HandleCloser() = default;
};

class Handle {
  public:
    Handle() = default;
    Handle(HandleCloser& closer, HandleKind kind, uint64_t raw)
        : closer_(&closer), raw_(raw), kind_(kind) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept
        : closer_(std::exchange(other.closer_, nullptr)),
          raw_(std::exchange(other.raw_, 0)),
          kind_(other.kind_) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            closer_ = std::exchange(other.closer_, nullptr);
            raw_ = std::exchange(other.raw_, 0);
            kind_ = other.kind_;
        }
        return *this;
    }
    ~Handle() { reset(); }

    void reset() noexcept {
        if (closer_ != nullptr) closer_->close_handle(kind_, raw_);
        closer_ = nullptr;
        raw_ = 0;
    }

    bool valid() const { return closer_ != nullptr; }
    explicit operator bool() const { return valid(); }
    uint64_t raw() const { return raw_; }
    HandleKind kind() const { return kind_; }

  private:
    HandleCloser* closer_ = nullptr;
    uint64_t raw_ = 0;
    HandleKind kind_ = HandleKind::kernel;
};

}  // namespace holvar::platform
