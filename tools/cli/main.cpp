// download-cli: the download tool without a window, for production lines
// and service scripts. Portable; the platform's part is console.h. Every
// run is a station (station/station.h): one position that scans every
// port given, or with --parallel one position a port.
#include <cstdio>
#include <map>
#include <string>

#include "framework/afxwin.h"
#include "framework/headless/headless.h"
#include "serial/port_discovery.h"
#include "serial/port_names.h"
#include "station/station_file.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console.h"
#include "tools/cli/list_ports.h"
#include "tools/cli/station.h"
#include "tools/options/info_options.h"

int main(int argc, char** argv) {
    UseUtf8(argc, argv);
    // Real time; a station's positions each on a thread of their own.
    headless::UseRealTime();
    if (AnswerInfoOptions(argc, argv, "download-cli", kCliUsage)) {
        return 0;
    }
    std::string error;
    auto options = ParseCliOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "download-cli: %s\n\n%s", error.c_str(), kCliUsage);
        return kExitBadArguments;
    }
    if (options->listPorts) {
        const std::string text = FormatPortList(DiscoverPorts(), options->json);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    // From here on every port is in its normal form: what is opened, shown
    // on the board and recorded ("com12" is "\\.\COM12" on Windows).
    // A port given twice, however it is spelt, would be two positions on one
    // device (or one scan trying it twice).
    std::map<std::string, std::string> given;  // key -> as first written
    for (std::string& port : options->ports) {
        const auto [first, added] = given.emplace(PortNameKey(port), port);
        if (!added) {
            std::fprintf(stderr, "download-cli: --port %s is given twice (first as %s)\n\n%s",
                         port.c_str(), first->second.c_str(), kCliUsage);
            return kExitBadArguments;
        }
        port = NormalPortName(port);
    }
    if (!options->stationFile.empty()) {
        StationSettings settings;
        if (!ReadStationFile(options->stationFile, settings, error)) {
            std::fprintf(stderr, "download-cli: %s\n", error.c_str());
            return kExitBadArguments;
        }
        options->type = settings.type;
        options->image = settings.image;
        options->expectSha256 = settings.sha256;
        options->record = settings.record;
        options->timeoutSeconds = settings.timeoutSeconds;
        options->ports = settings.ports;
        options->limit = settings.limit;
        options->serial = settings.serial;
        options->parallel = true;
        options->loop = true;
    }
    SetUpConsole(options->loop);
    CWinApp app;
    return RunStation(*options, StdoutRedrawsInPlace(), StdoutIsTerminal());
}
