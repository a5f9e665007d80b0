// Pipe clients on the simulated machine: connecting the way the engine does,
// writing and reading frames on the virtual clock, and an installed
// holvar_service whose program answers the v3 protocol.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <vector>

#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/security_model.hpp"
#include "sim_fixture.hpp"

namespace holvar::sim::testing {

using namespace std::chrono_literals;
using nlohmann::ordered_json;

// CreateFileW of the pipe as the engine makes it: SYNCHRONIZE | read
// attributes | read and write data, share all, overlapped with identification QoS.
inline constexpr uint32_t kPipeAccess = 0x00100083;
inline constexpr uint32_t kPipeFlags = 0x40110000;
inline constexpr char16_t kV3Pipe[] = u"\\\\.\\pipe\\holvar-service-v3";
inline constexpr char16_t kServiceImage[] =
    u"C:\\Program Files\\Holvar\\resources\\holvar-service.exe";
inline constexpr char16_t kCompanionImage[] = u"C:\\Windows\\companion.exe";

inline std::vector<uint8_t> program_image(const std::string& description) {
    return bytes(std::string(kProgramMarker) + description);
}

inline std::string frame_of(const std::string& payload) {
    const auto n = static_cast<uint32_t>(payload.size());
    std::string f{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                  static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
    return f + payload;
}

inline std::string request_payload(uint64_t id, const std::string& action) {
    return R"({"protocol":3,"request_id":)" + std::to_string(id) + R"(,"op":{"action":")" + action +
           R"("}})";
}

class PipeTest : public SimTest {
  protected:
    Result<Handle> connect(const std::u16string& name = kV3Pipe, uint32_t flags = kPipeFlags) {
        return os().files.create_file(name, kPipeAccess, FILE_SHARE_ALL, OPEN_EXISTING, flags);
    }
    Result<uint32_t> write(const Handle& h, std::string_view data, Duration timeout = 2s) {
        auto b = bytes(data);
        return os().pipes.write_pipe(h, b, timeout);
    }
    Result<std::string> read(const Handle& h, size_t capacity, Duration timeout = 2s) {
        std::vector<uint8_t> buffer(capacity);
        auto n = os().pipes.read_pipe(h, buffer, timeout);
        if (!n) return std::unexpected(n.error());
        return std::string(buffer.begin(), buffer.begin() + *n);
    }
    // Everything the server sends until a read fails: the bytes and that failure.
    std::pair<std::string, Error> read_to_end(const Handle& h, Duration timeout = 2s) {
        std::string all;
        for (;;) {
            auto r = read(h, 4096, timeout);
            if (!r) return {all, r.error()};
            all += *r;
        }
    }
    int64_t ms_since(Instant start) const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(machine->now() - start)
            .count();
    }

    // A companion program serving a pipe, running as LocalSystem.
    uint32_t start_companion(const std::string& description) {
        EXPECT_TRUE(machine->write_file(kCompanionImage, program_image(description), system_sid()));
        return machine->spawn_process(kCompanionImage, system_token());
    }

    // holvar_service installed from an image with this "v3" script, started,
    // and (unless told otherwise) past its 200 ms of start pending.
    void install_service(const std::string& v3 = "{}", bool wait_running = true) {
        const Sid admins = administrators_sid();
        ASSERT_TRUE(machine->make_directory(u"C:\\Program Files\\Holvar", admins));
        ASSERT_TRUE(machine->make_directory(u"C:\\Program Files\\Holvar\\resources", admins));
        const std::string description =
            R"({"kind":"service","start_pending_ms":200,"v3":)" + v3 + "}";
        ASSERT_TRUE(machine->write_file(kServiceImage, program_image(description), admins));
        auto scm = os().services.open_sc_manager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        ASSERT_TRUE(scm);
        auto svc = os().services.create_service(*scm, u"holvar_service", u"Holvar Service",
                                                SERVICE_START | SERVICE_QUERY_STATUS, 0x10, 3, 1,
                                                u"\"" + std::u16string(kServiceImage) + u"\"",
                                                std::u16string(2, u'\0'), u"LocalSystem");
        ASSERT_TRUE(svc);
        ASSERT_TRUE(os().services.start_service(*svc));
        if (wait_running) machine->advance(200ms);
    }
    Service& service() { return machine->state().scm.services.at(fold_name(u"holvar_service")); }

    // One request the way the engine makes it: a fresh connection, one frame
    // written, the length prefix read, then the payload.
    struct Response {
        std::optional<Error> error;  // a failed connect, write or read
        uint32_t length = 0;
        std::string payload;
    };
    Response request(uint64_t id, const std::string& action, Duration timeout = 2s) {
        Response out;
        auto h = connect();
        if (!h) return {h.error(), 0, {}};
        auto w = write(*h, frame_of(request_payload(id, action)), timeout);
        if (!w) return {w.error(), 0, {}};
        std::string prefix;
        while (prefix.size() < 4) {
            auto r = read(*h, 4 - prefix.size(), timeout);
            if (!r) return {r.error(), 0, prefix};
            prefix += *r;
        }
        for (int i = 3; i >= 0; --i)
            out.length = out.length << 8 | static_cast<uint8_t>(prefix[static_cast<size_t>(i)]);
        while (out.payload.size() < out.length) {
            auto r = read(*h, out.length - out.payload.size(), timeout);
            if (!r) {
                out.error = r.error();
                break;
            }
            out.payload += *r;
        }
        return out;
    }
    // The payload as ordered JSON (key order kept), or a discarded value.
    static ordered_json parsed(const Response& r) {
        return ordered_json::parse(r.payload, nullptr, false);
    }
};

}  // namespace holvar::sim::testing
