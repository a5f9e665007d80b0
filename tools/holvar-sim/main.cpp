// holvar-sim: the command-line face of the simulated Windows machine. Each
// invocation loads the machine file, does one thing to the machine, and saves
// it again, so a sequence of invocations acts like commands on one computer.
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "printing.hpp"
#include "verbs.hpp"

namespace {

using namespace holvar::simtool;

void print_usage(std::FILE* out) {
    std::fputs("usage: holvar-sim VERB ARGS...\n", out);
    for (const Verb& verb : verb_table()) {
        std::fprintf(out, "  holvar-sim %.*s %.*s\n      %.*s\n",
                     static_cast<int>(verb.name.size()), verb.name.data(),
                     static_cast<int>(verb.synopsis.size()), verb.synopsis.data(),
                     static_cast<int>(verb.summary.size()), verb.summary.data());
    }
    std::fputs(
        "Windows paths and engine arguments are WTF-8: an unpaired surrogate is written as its "
        "own\n"
        "3-byte sequence (ED A0 80 .. ED BF BF). Exit codes: 0 done, 1 refused by the machine,\n"
        "2 bad usage or an unreadable machine file; `run` exits with the engine's exit code.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        print_usage(stderr);
        return kExitUsage;
    }
    if (words[0] == "help" || words[0] == "--help" || words[0] == "-h") {
        print_usage(stdout);
        return kExitOk;
    }
    for (const Verb& verb : verb_table()) {
        if (verb.name != words[0]) continue;
        const auto parsed = parse_verb_args(std::span(words).subspan(1), verb.syntax);
        if (!parsed.args) {
            print_error(std::string(verb.name) + ": " + parsed.error);
            print_error("usage: holvar-sim " + std::string(verb.name) + " " +
                        std::string(verb.synopsis));
            return kExitUsage;
        }
        const auto result = verb.run(*parsed.args);
        if (!result) {
            print_error(std::string(verb.name) + ": " + result.error().message);
            return result.error().exit_code;
        }
        std::fflush(stdout);
        return *result;
    }
    print_error("unknown verb '" + words[0] + "' (holvar-sim help lists them)");
    return kExitUsage;
}
