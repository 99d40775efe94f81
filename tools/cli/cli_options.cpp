// Parsing download-cli's command line.
#include "tools/cli/cli_options.h"

#include <cstdlib>

std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error) {
    CliOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                error = arg + " needs " + what;
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--type") {
            const char* v = value("a machine type");
            if (!v) {
                return std::nullopt;
            }
            const std::string t = v;
            if (t != "0" && t != "1" && t != "2") {
                error = "--type takes 0, 1 or 2, not " + t;
                return std::nullopt;
            }
            o.type = t[0] - '0';
        } else if (arg == "--port") {
            const char* v = value("a device path");
            if (!v) {
                return std::nullopt;
            }
            o.ports.push_back(v);
        } else if (arg == "--timeout") {
            const char* v = value("seconds");
            if (!v) {
                return std::nullopt;
            }
            char* end = nullptr;
            o.timeoutSeconds = std::strtod(v, &end);
            if (end == v || *end != '\0' || !(o.timeoutSeconds > 0)) {
                error = "--timeout takes a positive number of seconds";
                return std::nullopt;
            }
        } else if (arg == "--record") {
            const char* v = value("a file");
            if (!v) {
                return std::nullopt;
            }
            o.record = v;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--parallel") {
            o.parallel = true;
        } else if (arg == "--loop") {
            o.loop = true;
        } else if (arg == "--fast") {
            o.fast = true;
        } else if (arg == "--list-ports") {
            o.listPorts = true;
        } else if (arg.starts_with('-') && arg != "-") {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (o.image.empty()) {
            o.image = arg;
        } else {
            error = "only one image, please: " + arg;
            return std::nullopt;
        }
    }
    if (o.listPorts) {
        return o;
    }
    if (o.type < 0) {
        error = "--type is required";
    } else if (o.image.empty()) {
        error = "no image file given";
    } else if (o.parallel && o.ports.size() < 2) {
        error = "--parallel needs at least two --port";
    } else if (o.parallel && o.loop) {
        error = "--parallel and --loop do not go together";
    } else if (o.fast && o.type == 0) {
        error = "--fast is for the block protocol (types 1 and 2)";
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    return o;
}
