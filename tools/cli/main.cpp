// download-cli: the download tool without a window, for production lines
// and service scripts. Portable; the platform's part is console.h.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "image/machine_types.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console.h"
#include "tools/cli/interrupts.h"
#include "tools/cli/list_ports.h"
#include "tools/cli/record_file.h"
#include "tools/cli/report.h"
#include "tools/cli/unit.h"
#include "tools/info_options.h"

namespace {

// Exit statuses of the run as a whole, beside the units' own (unit.h).
constexpr int kBadArguments = 2;
constexpr int kRecordFailed = 9;  // a record line could not be written

int ExitStatus(const UnitOutcome& u, int signal) {
    return u.result == UnitResult::Interrupted ? 128 + signal : static_cast<int>(u.result);
}

// What a run shares: its options, the image read once, and the record
// file, opened before the first unit.
struct Run {
    const CliOptions& options;
    const LoadedImage& image;
    RecordFile records;
    bool recordFailed = false;

    // Records the unit, if --record was given, before its result is
    // reported: a line that cannot be written is said on stderr, and the
    // run ends after this unit with kRecordFailed.
    void Record(const UnitOutcome& u) {
        if (!records.IsOpen()) {
            return;
        }
        std::string error;
        if (!records.Append(RecordLine(options, u, image), error)) {
            std::fprintf(stderr, "download-cli: writing a record to %s: %s\n",
                         options.record.c_str(), error.c_str());
            recordFailed = true;
        }
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
    UnitRunner runner(o, o.ports, run.image);
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
        if (o.loop && !runner.Answered() &&
            (u.result == UnitResult::NoMachine || u.result == UnitResult::Interrupted)) {
            // Waiting for the next unit to be attached: not a unit yet.
            if (u.result == UnitResult::Interrupted) {
                return 128 + LastInterrupt();
            }
            continue;
        }
        run.Record(u);
        out.Result(u);
        if (run.recordFailed) {
            return kRecordFailed;
        }
        if (u.result == UnitResult::Interrupted) {
            return ExitStatus(u, LastInterrupt());
        }
        status = static_cast<int>(u.result);
        (u.result == UnitResult::Done ? passed : failed) += 1;
        if (o.loop) {
            out.Units(passed, failed);
        }
    } while (o.loop && InterruptCount() == 0);
    return o.loop ? (failed ? 1 : 0) : status;
}

// Several machines at once, one dialog per port, all served by this one
// thread: a result line each, as each ends, and the worst status.
int RunParallel(Run& run) {
    const CliOptions& o = run.options;
    std::vector<std::unique_ptr<UnitRunner>> runners;
    std::vector<std::unique_ptr<Output>> outputs;
    std::vector<UnitRunner*> units;
    for (const std::string& port : o.ports) {
        runners.push_back(
            std::make_unique<UnitRunner>(o, std::vector<std::string>{port}, run.image));
        runners.back()->Prepare();
        outputs.push_back(std::make_unique<Output>(o, true, false));
        units.push_back(runners.back().get());
    }
    for (std::size_t i = 0; i < runners.size(); ++i) {
        runners[i]->Start(EventsOf(*outputs[i]));
    }
    int worst = 0;
    RunUnits(units, StopSignal, InterruptReason, [&](std::size_t i) {
        const UnitOutcome u = runners[i]->Outcome();
        run.Record(u);
        outputs[i]->Result(u);
        worst = std::max(worst, ExitStatus(u, LastInterrupt()));
    });
    return run.recordFailed ? kRecordFailed : worst;
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
        port = PortName(port);
    }
    SetUpConsole(options->loop && !options->parallel);
    if (options->fast) {
        SetFastFrames(true);
    }
    // The image is read once, here: refused already if it is not a regular
    // file (never waited on), and the bytes read are both what every unit
    // is programmed with and what the records describe.
    LoadedImage image;
    if (!ReadImage(options->image, image, error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return kBadArguments;
    }
    Run run{*options, image, {}, false};
    if (!options->record.empty() && !run.records.Open(options->record, error)) {
        std::fprintf(stderr, "download-cli: opening %s: %s\n", options->record.c_str(),
                     error.c_str());
        return kBadArguments;
    }
    WarnAboutImage(*options, image);
    CWinApp app;
    return options->parallel ? RunParallel(run) : RunOneAtATime(run);
}
