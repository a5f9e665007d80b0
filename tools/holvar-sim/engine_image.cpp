#include "engine_image.hpp"

#include <string_view>

namespace holvar::simtool {

std::vector<uint8_t> engine_image_bytes() {
    constexpr std::string_view text =
        "holvar-sim image: holvar-service-install.exe, the Holvar installer engine 3.0.0\n"
        "(run it with: holvar-sim run MACHINE --exe <this path> -- ARGS)\n";
    return {text.begin(), text.end()};
}

}  // namespace holvar::simtool
