// Parsing download-cli's command line.
#include "tools/cli/cli_options.h"

#include <algorithm>
#include <cctype>

#include "tools/options/command_line.h"

namespace {

// Whether `a` is `b`, which is in lower case, in any case.
bool SameTextNoCase(const std::string& a, const char* b) {
    return a.size() == std::char_traits<char>::length(b) &&
           std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
}

// A port named by its adapter ("serial:NUMBER", "location:PATH", the
// prefix in any case) needs what follows the prefix; a device path or COM
// name is taken as it is.
std::string TakePort(const std::string& name, std::vector<std::string>* ports) {
    if (SameTextNoCase(name, "serial:")) {
        return "--port " + name + " needs a serial number";
    }
    if (SameTextNoCase(name, "location:")) {
        return "--port " + name + " needs a USB location (such as 1-1.4)";
    }
    ports->push_back(name);
    return {};
}

// 64 hex digits, either case, kept in lowercase.
std::string TakeSha256(const std::string& hex, std::string* digest) {
    if (hex.size() != 64) {
        return "--expect-sha256 takes 64 hex digits";
    }
    std::string lower;
    for (const char c : hex) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) {
            lower += c;
        } else if (c >= 'A' && c <= 'F') {
            lower += static_cast<char>(c - 'A' + 'a');
        } else {
            return "--expect-sha256 takes 64 hex digits";
        }
    }
    *digest = lower;
    return {};
}

}  // namespace

std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error) {
    CliOptions o;
    bool imageGiven = false;
    const CommandLineTable table{
        {
            ValueOption("--type", "a machine type",
                        [&o](const std::string& t) -> std::string {
                            if (t != "0" && t != "1" && t != "2") {
                                return "--type takes 0, 1 or 2, not " + t;
                            }
                            o.type = t[0] - '0';
                            return {};
                        }),
            ValueOption("--port", "a device path",
                        [&o](const std::string& name) { return TakePort(name, &o.ports); }),
            PositiveNumberOption("--timeout", "seconds", "a positive number of seconds",
                                 &o.timeoutSeconds),
            TextOption("--record", "a file", &o.record),
            ValueOption("--expect-sha256", "64 hex digits",
                        [&o](const std::string& hex) { return TakeSha256(hex, &o.expectSha256); }),
            FlagOption("--json", &o.json),
            FlagOption("--parallel", &o.parallel),
            FlagOption("--loop", &o.loop),
            FlagOption("--fast", &o.fast),
            FlagOption("--list-ports", &o.listPorts),
            TextOption("--station", "a station file", &o.stationFile),
            FlagOption("--unit-ids", &o.unitIds),
        },
        [&](const std::string& image) -> std::string {
            if (imageGiven) {
                return "only one image, please: " + image;
            }
            imageGiven = true;
            o.image = image;
            return {};
        },
    };
    error = ParseCommandLine(argc, argv, table);
    if (!error.empty()) {
        return std::nullopt;
    }
    if (o.listPorts) {
        return o;
    }
    if (!o.stationFile.empty()) {
        // Everything else comes from the file.
        if (o.type >= 0 || !o.ports.empty() || imageGiven || !o.record.empty() ||
            !o.expectSha256.empty() || o.timeoutSeconds != CliOptions{}.timeoutSeconds ||
            o.parallel || o.loop) {
            error =
                "--station takes its settings from the file: give it alone, with --json, "
                "--fast or --unit-ids";
            return std::nullopt;
        }
        return o;
    }
    if (o.unitIds && !(o.parallel && o.loop)) {
        error =
            "--unit-ids binds IDs to fixture positions: give it with --parallel --loop or "
            "--station";
        return std::nullopt;
    }
    if (o.type < 0) {
        error = "--type is required";
    } else if (o.image.empty()) {
        error = "no image file given";
    } else if (o.parallel && o.ports.size() < 2) {
        error = "--parallel needs at least two --port";
    } else if (o.fast && o.type == 0) {
        error = "--fast is for the block protocol (types 1 and 2)";
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    return o;
}
