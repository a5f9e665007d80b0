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

}  // namespace holvar::conformance
