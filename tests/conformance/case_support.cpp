#include <span>

#include "conformance.hpp"

namespace holvar::conformance {

using namespace platform;

std::string narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            static const char* digits = "0123456789abcdef";
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(digits[(c >> shift) & 0xF]);
        }
    }
    return out;
}

std::string describe(const Error& error) {
    if (error.kind == ErrorKind::win32) return "Win32 error " + std::to_string(error.win32);
    return "error \"" + std::string(error.text) + "\"";
}

void Case::SetUp() {
    host_ = open_host();
}

void Case::TearDown() {
    host_.reset();
}

std::u16string Case::at(std::u16string_view rel) const {
    return join_path(work(), rel);
}

Result<Handle> Case::open(const std::u16string& path, uint32_t access, uint32_t share,
                          uint32_t flags) {
    return files().create_file(path, access, share, OPEN_EXISTING, flags);
}

Status Case::make_file(const std::u16string& path, std::string_view bytes) {
    auto h =
        files().create_file(path, GENERIC_WRITE, FILE_SHARE_ALL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (!h) return std::unexpected(h.error());
    std::span<const uint8_t> rest(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    while (!rest.empty()) {
        auto written = files().write_file(*h, rest);
        if (!written) return std::unexpected(written.error());
        if (*written == 0) return fail(ErrorKind::other, "short write");
        rest = rest.subspan(*written);
    }
    return {};
}

Result<std::string> Case::read_all(const std::u16string& path) {
    auto h = open(path, GENERIC_READ, FILE_SHARE_ALL);
    if (!h) return std::unexpected(h.error());
    std::string out;
    uint8_t buffer[4096];
    while (true) {
        auto got = files().read_file(*h, buffer);
        if (!got) return std::unexpected(got.error());
        if (*got == 0) return out;
        out.append(reinterpret_cast<const char*>(buffer), *got);
    }
}

std::u16string Case::key_path(std::u16string_view rel) const {
    std::u16string key = u"Software\\HolvarConformance\\";
    for (char c : std::to_string(host_->os().processes.get_current_process_id())) {
        key.push_back(static_cast<char16_t>(c));
    }
    key += u"-";
    key += file_name(work()).value_or(u"case");
    if (!rel.empty()) {
        key += u"\\";
        key += rel;
    }
    return key;
}

Result<FileIdInfo> Case::file_id_of(const std::u16string& path) {
    auto h = open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    if (!h) return std::unexpected(h.error());
    return files().get_file_id_info(*h);
}

Child::~Child() {
    if (!created_.process.valid()) return;
    auto code = os_->processes.get_exit_code_process(created_.process);
    if (code && *code == STILL_ACTIVE) {
        (void)os_->processes.terminate_process(created_.process, 1);
        (void)os_->sync.wait_for_single_object(created_.process, 10'000);
    }
}

Result<uint32_t> Child::wait_exit(uint32_t timeout_ms) {
    auto waited = os_->sync.wait_for_single_object(created_.process, timeout_ms);
    if (!waited) return std::unexpected(waited.error());
    if (*waited != WAIT_OBJECT_0) return win32_error(win32::wait_timeout);
    return os_->processes.get_exit_code_process(created_.process);
}

std::u16string Case::unique_name(std::u16string_view prefix) const {
    std::u16string name(prefix);
    for (char c : std::to_string(host_->os().processes.get_current_process_id())) {
        name.push_back(static_cast<char16_t>(c));
    }
    name += u"-";
    name += file_name(work()).value_or(u"case");
    return name;
}

Result<Child> Case::start_helper(const HelperSpec& spec, const std::u16string& environment,
                                 const Handle* job) {
    auto command = host_->helper(spec);
    if (!command) return std::unexpected(command.error());
    CreateProcessRequest request;
    request.application_name = command->image;
    request.command_line = command->command_line;
    request.creation_flags = CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
    if (!environment.empty()) {
        request.environment = environment;
        request.creation_flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    if (job != nullptr) request.job_list.push_back(job);
    auto created = os().processes.create_process(request);
    if (!created) return std::unexpected(created.error());
    return Child(os(), std::move(*created));
}

Result<Child> Case::start_helper_copy(const HelperSpec& spec, const std::u16string& image) {
    auto command = host_->helper(spec);
    if (!command) return std::unexpected(command.error());
    auto bytes = read_all(command->image);
    if (!bytes) return std::unexpected(bytes.error());
    if (auto made = make_file(image, *bytes); !made) return std::unexpected(made.error());
    CreateProcessRequest request;
    request.application_name = image;
    // The helper's own arguments follow its quoted image name.
    request.command_line =
        u"\"" + image + u"\"" + command->command_line.substr(command->image.size() + 2);
    request.creation_flags = CREATE_NO_WINDOW;
    auto created = os().processes.create_process(request);
    if (!created) return std::unexpected(created.error());
    return Child(os(), std::move(*created));
}

Result<Handle> Case::connect_pipe(const std::u16string& name, Duration limit) {
    const Instant deadline = os().clock.now() + limit;
    for (;;) {
        auto pipe = files().create_file(u"\\\\.\\pipe\\" + name, GENERIC_READ | GENERIC_WRITE, 0,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
        // A server is still making its instances: wait, as WaitNamedPipeW would.
        const bool not_yet = !pipe && (pipe.error().is_win32(win32::file_not_found) ||
                                       pipe.error().is_win32(win32::pipe_busy));
        if (!not_yet || os().clock.now() >= deadline) return pipe;
        os().clock.sleep_for(std::chrono::milliseconds(20));
    }
}

bool Case::wait_for_file(const std::u16string& path, Duration limit) {
    const Instant deadline = os().clock.now() + limit;
    for (;;) {
        if (open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL)) return true;
        if (os().clock.now() >= deadline) return false;
        os().clock.sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace holvar::conformance
