#include "printing.hpp"

#include <cstdio>

#include "owners.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {

std::string kind_name(sim::NodeKind kind) {
    switch (kind) {
        case sim::NodeKind::file:
            return "file";
        case sim::NodeKind::directory:
            return "dir";
        case sim::NodeKind::junction:
            return "junction";
        case sim::NodeKind::symlink:
            return "symlink";
    }
    return "unknown";
}

std::string file_id_hex(const std::array<uint8_t, 16>& id) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : id) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0xF]);
    }
    return out;
}

std::string node_line(const sim::NodeInfo& node) {
    std::string line = kind_name(node.kind) + " " + describe_owner(node.owner) + " " +
                       file_id_hex(node.file_id) + " " + std::to_string(node.size) + " " +
                       utf16_to_wtf8(node.name);
    if (node.kind == sim::NodeKind::junction || node.kind == sim::NodeKind::symlink) {
        line += " -> " + utf16_to_wtf8(node.reparse_target);
    }
    return line;
}

void print_line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

void print_bytes(std::span<const uint8_t> bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void print_error(std::string_view text) {
    std::fputs("holvar-sim: ", stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
}

}  // namespace holvar::simtool
