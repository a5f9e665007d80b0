#include "txn/drivers/root_match.hpp"

#include "platform/win_path.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

std::optional<std::u16string> unquoted_path(std::u16string_view text) {
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"')
        text = text.substr(1, text.size() - 2);
    if (text.find(u'"') != std::u16string_view::npos) return std::nullopt;
    return std::u16string(text);
}

bool root_matches(std::u16string_view root, const scm::ScmSnapshot& service,
                  const std::optional<std::u16string>& install_location) {
    if (service.config) {
        std::u16string expected =
            p::join_path(p::join_path(root, u"resources"), u"holvar-service.exe");
        std::optional<std::u16string> image = unquoted_path(service.config->binary_path);
        if (!image || !p::paths_equal(*image, expected)) return false;
    }
    if (install_location) {
        std::optional<std::u16string> location = unquoted_path(*install_location);
        if (!location || !p::paths_equal(*location, root)) return false;
    }
    return true;
}

}  // namespace holvar::txn::drivers
