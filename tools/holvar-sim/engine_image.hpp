// The bytes that stand for the engine's executable on a simulated machine.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace holvar::simtool {

inline constexpr std::u16string_view kEngineFileName = u"holvar-service-install.exe";

// A file that says what it is: holvar-sim runs the real engine in its place
// (`holvar-sim run --exe`), so its bytes only have to identify it.
std::vector<uint8_t> engine_image_bytes();

}  // namespace holvar::simtool
