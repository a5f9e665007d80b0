#include "managed_v3/protocol/frame_precheck.hpp"

namespace holvar::v3 {

bool passes_structure_precheck(std::string_view payload, std::size_t max_depth) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (const char c : payload) {
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                in_string = true;
                break;
            case '[':
            case '{':
                if (depth == max_depth) return false;
                ++depth;
                break;
            case ']':
            case '}':
                if (depth == 0) return false;
                --depth;
                break;
            default:
                break;
        }
    }
    return !in_string && depth == 0;
}

}  // namespace holvar::v3
