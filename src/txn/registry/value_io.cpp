#include "txn/registry/value_io.hpp"

#include "txn/journal/text_codec.hpp"
#include "txn/registry/registry.hpp"

namespace holvar::txn::registry {

using platform::Result;

namespace {

// Another writer can make the value longer between the size probe and the
// read (PendingFileRenameOperations grows whenever anything schedules a
// rename); the read then answers ERROR_MORE_DATA and the value is sized and
// read again. A value that keeps growing past every try fails the read.
constexpr int kReadTries = 8;

}  // namespace

Result<ValueBytes> read_value(platform::Os& os, const platform::Handle& key,
                              const std::u16string& name) {
    for (int attempt = 1;; ++attempt) {
        auto size = os.registry.reg_query_value(key, name, {});
        if (!size) return std::unexpected(size.error());
        ValueBytes out;
        out.data.resize(size->size);
        // A zero-length buffer still has to be a buffer: a null one asks for the size only.
        uint8_t empty = 0;
        std::span<uint8_t> buffer =
            out.data.empty() ? std::span<uint8_t>(&empty, 0) : std::span<uint8_t>(out.data);
        auto got = os.registry.reg_query_value(key, name, buffer);
        if (!got) {
            if (got.error().is_win32(platform::win32::more_data) && attempt < kReadTries) continue;
            return std::unexpected(got.error());
        }
        out.type = got->type;
        out.data.resize(std::min<size_t>(got->size, out.data.size()));
        return out;
    }
}

Result<std::u16string> sz_text(const ValueBytes& value) {
    if (value.type != platform::REG_VALUE_SZ || value.data.size() % 2 != 0)
        return platform::invalid_data("not a text");
    std::u16string units;
    for (size_t i = 0; i < value.data.size(); i += 2)
        units.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
    if (units.empty() || units.back() != u'\0') return platform::invalid_data("unterminated");
    units.pop_back();
    return units;
}

std::vector<uint8_t> sz_data(std::u16string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> dword_data(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

Result<std::u16string> trimmed_root(std::u16string_view root) {
    if (!journal::is_valid_utf16(root)) return platform::invalid_input("non-Unicode path");
    while (!root.empty() && root.back() == u'\\') root.remove_suffix(1);
    return std::u16string(root);
}

std::u16string protocol_command(std::u16string_view trimmed) {
    return u"\"" + std::u16string(trimmed) + u"\\holvar-client.exe\" \"%1\"";
}

}  // namespace holvar::txn::registry
