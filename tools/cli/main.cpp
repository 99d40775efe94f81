// download-cli: the download tool without a window, for production lines
// and service scripts. Portable; the platform's part is console.h.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "image/machine_types.h"
#include "serial/adapter_names.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "station/computer_name.h"
#include "station/record_file.h"
#include "station/records.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console.h"
#include "tools/cli/interrupts.h"
#include "tools/cli/list_ports.h"
#include "tools/cli/report.h"
#include "tools/cli/station.h"
#include "tools/cli/unit.h"
#include "tools/info_options.h"

namespace {

// Exit statuses of the run as a whole, beside the units' own (unit.h).
constexpr int kBadArguments = 2;

// What a run shares: its options, the image read once, and the record
// file, opened before the first unit.
struct Run {
    const CliOptions& options;
    const LoadedImage& image;
    RecordFile records;
    std::string station;  // this computer's name, for the records
    bool recordFailed = false;

    // Records the unit, if --record was given, before its result is
    // reported: a line that cannot be written is said on stderr, and the
    // run ends after this unit with kExitRecordFailed.
    bool Record(const UnitOutcome& u, int position = 0) {
        if (!records.IsOpen()) {
            return true;
        }
        std::string error;
        if (!records.Append(RecordLine(options.type, options.image, u, image, station, position),
                            error)) {
            std::fprintf(stderr, "download-cli: writing a record to %s: %s\n",
                         options.record.c_str(), error.c_str());
            recordFailed = true;
        }
        return !recordFailed;
    }
};

UnitEvents EventsOf(Output& out) {
    UnitEvents events = out.Events();
    events.portNotClosed = [](const std::string& port, const std::string& reason) {
        std::fprintf(stderr, "download-cli: closing %s: %s\n", port.c_str(), reason.c_str());
    };
    return events;
}

// One unit, or with --loop units until interrupted. Returns the exit status.
int RunOneAtATime(Run& run) {
    const CliOptions& o = run.options;
    UnitRunner runner(UnitSettingsOf(o), o.ports, run.image);
    runner.Prepare();
    Output out(o, false, StdoutIsTerminal());
    // With --loop the first Ctrl+C lets the unit under way finish, so that
    // no unit is left half-programmed; a second one, or SIGTERM, stops at
    // once (interrupts.h). Without --loop any interrupt stops at once.
    int passed = 0, failed = 0, status = 0;
    do {
        runner.Start(EventsOf(out));
        RunUnits({&runner}, StopSignal, InterruptReason, nullptr);
        const UnitOutcome u = runner.Outcome();
        if (o.loop && runner.OnlyWaited()) {
            // Waiting for the next unit to be attached: not a unit yet.
            if (u.result == UnitResult::Interrupted) {
                return 128 + LastInterrupt();
            }
            continue;
        }
        run.Record(u);
        out.Result(u);
        if (run.recordFailed) {
            return kExitRecordFailed;
        }
        if (u.result == UnitResult::Interrupted) {
            return ExitStatusOf(u, LastInterrupt());
        }
        status = static_cast<int>(u.result);
        (u.result == UnitResult::Done ? passed : failed) += 1;
        if (o.loop) {
            out.Units(passed, failed);
        }
    } while (o.loop && InterruptCount() == 0);
    return o.loop ? (failed ? 1 : 0) : status;
}

// What the operator should know before the first unit: an image the
// machine will not get whole, or will be told the wrong length of.
void WarnAboutImage(const CliOptions& o, const LoadedImage& image) {
    const std::size_t n = image.bytes.size();
    if (image.Cut()) {
        std::fprintf(stderr,
                     "download-cli: %s is %llu bytes; only its first %zu are programmed and "
                     "recorded\n",
                     o.image.c_str(), static_cast<unsigned long long>(image.fileSize), n);
    }
    const MachineTypeInfo* info = FindMachineType(static_cast<MachineType>(o.type));
    if (info && info->protocol == ProtocolKind::CharProtocol && n >= 0x10000) {
        std::fprintf(stderr,
                     "download-cli: warning: a %s is told the image's length in 16 bits: "
                     "%zu bytes go out as a length of %zu\n",
                     info->name, n, n % 0x10000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    UseUtf8(argc, argv);
    if (AnswerInfoOptions(argc, argv, "download-cli", kCliUsage)) {
        return 0;
    }
    std::string error;
    auto options = ParseCliOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "download-cli: %s\n\n%s", error.c_str(), kCliUsage);
        return kBadArguments;
    }
    if (options->listPorts) {
        const std::string text = FormatPortList(DiscoverPorts(), options->json);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    for (std::string& port : options->ports) {
        if (AdapterNameKind(port) == AdapterKey::None) {
            port = PortName(port);
        }
    }
    SetUpConsole(options->loop);
    // The image is read once, here: refused already if it is not a regular
    // file (never waited on), and the bytes read are both what every unit
    // is programmed with and what the records describe.
    LoadedImage image;
    if (!ReadImage(options->image, image, error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return kBadArguments;
    }
    if (!options->expectSha256.empty() && options->expectSha256 != image.sha256) {
        std::fprintf(stderr,
                     "download-cli: %s is not the expected image: its SHA-256 is\n  %s\nnot\n  "
                     "%s\n",
                     options->image.c_str(), image.sha256.c_str(), options->expectSha256.c_str());
        return kBadArguments;
    }
    Run run{*options, image, {}, StationName(), false};
    if (!options->record.empty() && !run.records.Open(options->record, error)) {
        std::fprintf(stderr, "download-cli: opening %s: %s\n", options->record.c_str(),
                     error.c_str());
        return kBadArguments;
    }
    WarnAboutImage(*options, image);
    CWinApp app;
    if (options->parallel) {
        return RunStation(
            *options, image,
            [&](const UnitOutcome& u, int position) { return run.Record(u, position); },
            StdoutRedrawsInPlace());
    }
    return RunOneAtATime(run);
}
