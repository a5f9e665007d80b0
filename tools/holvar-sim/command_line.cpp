#include "command_line.hpp"

namespace holvar::simtool {

std::optional<std::string> VerbArgs::option(const std::string& name) const {
    const auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

ParseOutcome parse_verb_args(std::span<const std::string> words, const VerbSyntax& syntax) {
    VerbArgs args;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            if (!syntax.takes_rest) return {std::nullopt, "unexpected \"--\""};
            args.rest.assign(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
            break;
        }
        if (word.size() > 2 && word.starts_with("--")) {
            if (syntax.switches.contains(word)) {
                args.switches.insert(word);
                continue;
            }
            if (!syntax.options.contains(word)) return {std::nullopt, "unknown option " + word};
            if (i + 1 >= words.size()) return {std::nullopt, "option " + word + " needs a value"};
            if (args.options.contains(word))
                return {std::nullopt, "option " + word + " given twice"};
            args.options[word] = words[++i];
            continue;
        }
        args.positionals.push_back(word);
    }
    const size_t most = syntax.positionals + syntax.optional_positionals;
    if (args.positionals.size() < syntax.positionals || args.positionals.size() > most) {
        const std::string expected =
            std::to_string(syntax.positionals) +
            (most > syntax.positionals ? " to " + std::to_string(most) : std::string());
        return {std::nullopt, "expected " + expected + " positional argument(s), got " +
                                  std::to_string(args.positionals.size())};
    }
    return {std::move(args), {}};
}

}  // namespace holvar::simtool
