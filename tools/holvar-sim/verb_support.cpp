#include "verb_support.hpp"

#include <charconv>
#include <new>

#include "owners.hpp"
#include "platform/win_path.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {

ToolResult<std::u16string> wide_arg(const std::string& word, std::string_view what) {
    auto wide = wtf8_to_utf16(word);
    if (!wide) return usage(std::string(what) + " is not WTF-8 text");
    return std::move(*wide);
}

ToolResult<std::u16string> windows_path_arg(const std::string& word, std::string_view what) {
    auto wide = wide_arg(word, what);
    if (!wide) return std::unexpected(wide.error());
    if (!platform::is_absolute_path(*wide)) {
        return usage(std::string(what) + " '" + word + "' is not an absolute Windows path");
    }
    return std::move(*wide);
}

ToolResult<platform::Sid> owner_arg(const std::optional<std::string>& word,
                                    const platform::Sid& fallback) {
    if (!word) return fallback;
    const auto wide = wtf8_to_utf16(*word);
    const auto sid = wide ? parse_owner(*wide) : std::nullopt;
    if (!sid) {
        return usage("unknown owner '" + *word + "' (one of " + std::string(kOwnerNames) + ")");
    }
    return *sid;
}

ToolResult<uint32_t> number_arg(const std::string& word, std::string_view what) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size() || word.empty()) {
        return usage(std::string(what) + " '" + word + "' is not a number");
    }
    return value;
}

ToolResult<std::optional<uint32_t>> count_option(const VerbArgs& args, const std::string& name) {
    const auto word = args.option(name);
    if (!word) return std::nullopt;
    const auto n = number_arg(*word, name);
    if (!n) return std::unexpected(n.error());
    if (*n == 0) return usage(name + " must be at least 1");
    return *n;
}

std::unexpected<ToolError> machine_refused(std::string_view action, std::u16string_view path,
                                           const platform::Error& error) {
    return refused(std::string(action) + " " + utf16_to_wtf8(path) + ": " + describe(error));
}

const platform::Sid& administrators_sid() {
    static const platform::Sid sid = *platform::sid_from_string(platform::sids::administrators);
    return sid;
}

void leave_open(platform::Handle handle) {
    // Placement into storage that is never destroyed keeps the handle from
    // closing, without a heap allocation; a second call reuses the storage
    // and closes neither handle.
    union Slot {
        Slot() {}
        ~Slot() {}
        platform::Handle handle;
    };
    static Slot slot;
    new (&slot.handle) platform::Handle(std::move(handle));
}

ToolResult<void> make_directories(sim::Machine& machine, const std::u16string& path,
                                  const platform::Sid& owner) {
    if (machine.exists(path)) return {};
    const auto parent = platform::parent_path(path);
    if (!parent) return refused("no such volume: " + utf16_to_wtf8(path));
    if (auto made = make_directories(machine, *parent, owner); !made) return made;
    if (auto made = machine.make_directory(path, owner); !made) {
        return machine_refused("cannot create", path, made.error());
    }
    return {};
}

}  // namespace holvar::simtool
