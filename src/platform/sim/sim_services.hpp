// The simulated machine's answers to the Services calls of one process.
#pragma once

#include <cstdint>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

class SimServices final : public platform::Services {
  public:
    SimServices(Machine& machine, uint32_t pid, platform::HandleCloser& closer)
        : machine_(machine), pid_(pid), closer_(closer) {}

    platform::Result<platform::Handle> open_sc_manager(uint32_t access) override;
    platform::Result<platform::Handle> open_service(const platform::Handle& scm,
                                                    const std::u16string& name,
                                                    uint32_t access) override;
    platform::Result<platform::Handle> create_service(
        const platform::Handle& scm, const std::u16string& name, const std::u16string& display_name,
        uint32_t access, uint32_t service_type, uint32_t start_type, uint32_t error_control,
        const std::u16string& binary_path, const std::u16string& dependencies,
        const std::u16string& start_name) override;
    platform::Status change_service_config(const platform::Handle& h, uint32_t service_type,
                                           uint32_t start_type, uint32_t error_control,
                                           const std::u16string* binary_path,
                                           const std::u16string* dependencies,
                                           const std::u16string* start_name,
                                           const std::u16string* display_name) override;
    platform::Status change_service_description(const platform::Handle& h,
                                                const std::u16string* description) override;
    platform::Result<platform::ServiceConfigAnswer> query_service_config(
        const platform::Handle& h, uint32_t buffer_bytes) override;
    platform::Result<platform::ServiceDescriptionAnswer> query_service_description(
        const platform::Handle& h, uint32_t buffer_bytes) override;
    platform::Result<platform::ServiceStatusProcess> query_service_status(
        const platform::Handle& h) override;
    platform::Status control_service(const platform::Handle& h, uint32_t control) override;
    platform::Status start_service(const platform::Handle& h) override;
    platform::Status delete_service(const platform::Handle& h) override;

    // Closes a service handle of this process (no-op when unknown or after a crash).
    void close(uint64_t raw) noexcept;

  private:
    // Counts the call and answers an injected fault, or a call from a process
    // that has ended.
    std::optional<platform::Error> enter(std::string_view name) {
        auto& s = machine_.state();
        if (auto e = enter_call(s, pid_, name)) return e;
        if (s.scm.on_call) s.scm.on_call(s, name);
        return std::nullopt;
    }
    platform::Handle new_handle(std::u16string service, uint32_t access);
    // The manager handle of this process; ERROR_INVALID_HANDLE otherwise.
    platform::Status manager_of(const platform::Handle& h, uint32_t needed);
    // The service behind a handle of this process holding every right of
    // `needed`: ERROR_INVALID_HANDLE (6) or ERROR_ACCESS_DENIED (5).
    platform::Result<Service*> service_of(const platform::Handle& h, uint32_t needed);

    Machine& machine_;
    uint32_t pid_;
    platform::HandleCloser& closer_;
};

}  // namespace holvar::sim
