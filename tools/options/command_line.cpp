// Reading a program's options from its table, and refusing a bad command line.
#include "tools/options/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <system_error>

namespace {

// A word that names an option rather than giving a value: "--x" and "-x",
// but not "-" (an argument by custom) nor "--" (the end of the options).
bool LooksLikeOption(std::string_view word) {
    return word.size() > 1 && word[0] == '-' && word != "--";
}

// Whether the word after an option may be its value: not one that starts
// like a long option, which the user more likely meant as the next option.
bool CanBeValue(std::string_view word) {
    return !word.starts_with("--");
}

const CommandLineOption* Find(const CommandLineTable& table, std::string_view name) {
    for (const CommandLineOption& option : table.options) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

std::string ParseCommandLine(int argc, const char* const* argv, const CommandLineTable& table) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || !LooksLikeOption(word)) {
            if (!optionsEnded && word == "--") {
                optionsEnded = true;
                continue;
            }
            if (!table.arguments) {
                return "unexpected argument " + word;
            }
            if (std::string refused = table.arguments(word); !refused.empty()) {
                return refused;
            }
            continue;
        }
        // Only a long option may carry its value after '='.
        const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const CommandLineOption* option = Find(table, name);
        if (option == nullptr) {
            return "unknown option " + name;
        }
        std::string value;
        if (option->needs.empty()) {
            if (equals != std::string::npos) {
                return name + " takes no value";
            }
        } else if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < argc && CanBeValue(argv[i + 1])) {
            value = argv[++i];
        }
        if (!option->needs.empty() && value.empty()) {
            return name + " needs " + option->needs;
        }
        if (std::string refused = option->take(value); !refused.empty()) {
            return refused;
        }
    }
    return {};
}

int RefuseCommandLine(const char* program, const std::string& message, const char* usage) {
    std::fprintf(stderr, "%s: %s\n\n%s", program, message.c_str(), usage);
    std::fflush(stderr);
    return kCommandLineRefused;
}

bool ParseInteger(const std::string& text, long long min, long long max, long long* value) {
    long long n = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, n, 10);
    if (error != std::errc() || stop != end || n < min || n > max) {
        return false;
    }
    *value = n;
    return true;
}

bool ParsePositiveNumber(const std::string& text, double* value) {
    double x = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, x);
    if (error != std::errc() || stop != end || !std::isfinite(x) || !(x > 0)) {
        return false;
    }
    *value = x;
    return true;
}

CommandLineOption FlagOption(std::string name, bool* on) {
    return {std::move(name), "", [on](const std::string&) {
                *on = true;
                return std::string();
            }};
}

CommandLineOption ValueOption(std::string name, std::string needs, TakeValue take) {
    return {std::move(name), std::move(needs), std::move(take)};
}

CommandLineOption TextOption(std::string name, std::string needs, std::string* text) {
    return {std::move(name), std::move(needs), [text](const std::string& value) {
                *text = value;
                return std::string();
            }};
}

CommandLineOption ListOption(std::string name, std::string needs, std::vector<std::string>* texts) {
    return {std::move(name), std::move(needs), [texts](const std::string& value) {
                texts->push_back(value);
                return std::string();
            }};
}

CommandLineOption IntegerOption(std::string name, std::string needs, long long min, long long max,
                                std::string takes, std::function<void(long long)> set) {
    std::string refusal = name + " takes " + takes;
    return {
        std::move(name), std::move(needs),
        [min, max, refusal = std::move(refusal), set = std::move(set)](const std::string& value) {
            long long n = 0;
            if (!ParseInteger(value, min, max, &n)) {
                return refusal;
            }
            set(n);
            return std::string();
        }};
}

CommandLineOption PositiveNumberOption(std::string name, std::string needs, std::string takes,
                                       double* value) {
    std::string refusal = name + " takes " + takes;
    return {std::move(name), std::move(needs),
            [value, refusal = std::move(refusal)](const std::string& text) {
                return ParsePositiveNumber(text, value) ? std::string() : refusal;
            }};
}
