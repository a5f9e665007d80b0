#include "installer/arguments.hpp"

#include <string_view>

#include "platform/unicode.hpp"

namespace holvar::installer {

namespace {

constexpr std::u16string_view root_option = u"--root";
constexpr std::u16string_view purge_option = u"--purge-session-vault";

std::optional<Command> mode_of(std::u16string_view mode) {
    if (mode == u"--apply") return Command::apply;
    if (mode == u"--recover") return Command::recover;
    if (mode == u"--remove") return Command::remove;
    if (mode == u"--repair") return Command::repair;
    return std::nullopt;
}

bool root_acceptable(std::u16string_view root) {
    if (root.empty()) return false;
    // A Windows command line cannot carry a NUL, and every call the root
    // reaches would silently cut it there and act on another path.
    if (root.find(u'\0') != std::u16string_view::npos) return false;
    // An option where the path belongs. A root that is not valid Unicode
    // passes this test; the drivers refuse it as an unsafe object.
    if (platform::is_valid_utf16(root) && root.size() >= 2 && root.starts_with(u"--")) return false;
    return true;
}

}  // namespace

std::optional<ParsedArguments> parse_arguments(const std::vector<std::u16string>& argv) {
    if (argv.size() != 4 && argv.size() != 5) return std::nullopt;
    const std::u16string& mode = argv[1];
    if (argv[2] != root_option) return std::nullopt;
    ParsedArguments parsed;
    if (argv.size() == 5) {
        if (argv[4] != purge_option) return std::nullopt;
        parsed.purge_session_vault = true;
    }
    if (!root_acceptable(argv[3])) return std::nullopt;
    parsed.root = argv[3];
    if (!platform::is_valid_utf16(mode)) return std::nullopt;
    std::optional<Command> command = mode_of(mode);
    if (!command) return std::nullopt;
    if (parsed.purge_session_vault && *command != Command::remove) return std::nullopt;
    parsed.command = *command;
    return parsed;
}

}  // namespace holvar::installer
