// The simulated machine's answers to the Registry calls of one process.
#pragma once

#include <cstdint>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

class SimRegistry final : public platform::Registry {
  public:
    SimRegistry(Machine& machine, uint32_t pid, platform::HandleCloser& closer)
        : machine_(machine), pid_(pid), closer_(closer) {}

    platform::Result<platform::Handle> reg_create_key(const std::u16string& path,
                                                      uint32_t access) override;
    platform::Result<platform::Handle> reg_open_key(const std::u16string& path,
                                                    uint32_t access) override;
    platform::Status reg_set_value(const platform::Handle& key, const std::u16string& name,
                                   uint32_t type, std::span<const uint8_t> data) override;
    platform::Result<platform::RegValueInfo> reg_query_value(const platform::Handle& key,
                                                             const std::u16string& name,
                                                             std::span<uint8_t> buffer) override;
    platform::Status reg_delete_tree(const platform::Handle& key,
                                     const std::u16string& subkey) override;
    platform::Status reg_delete_value(const platform::Handle& key,
                                      const std::u16string& name) override;

    // Closes a registry key handle of this process (no-op when unknown or after a crash).
    void close(uint64_t raw) noexcept;

  private:
    // Counts the call and answers an injected fault, or a call from a process
    // that has ended.
    std::optional<platform::Error> enter(std::string_view name) {
        return enter_call(machine_.state(), pid_, name);
    }
    Caller caller() { return Caller{machine_.state(), pid_, closer_}; }
    platform::Result<platform::Handle> open(const std::u16string& path, uint32_t access,
                                            bool create);
    // The key behind a handle of this process that holds every right of
    // `needed`: ERROR_INVALID_HANDLE (6), ERROR_ACCESS_DENIED (5), or
    // ERROR_KEY_DELETED (1018) once the key is gone.
    platform::Result<RegHandleObj*> key_of(const platform::Handle& h, uint32_t needed);

    Machine& machine_;
    uint32_t pid_;
    platform::HandleCloser& closer_;
};

}  // namespace holvar::sim
