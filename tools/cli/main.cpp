// download-cli: the download tool without a window, for production lines
// and service scripts. Portable; the platform's part is console.h.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console.h"
#include "tools/cli/interrupts.h"
#include "tools/cli/list_ports.h"
#include "tools/cli/report.h"
#include "tools/cli/unit.h"
#include "tools/info_options.h"

namespace {

int ExitStatus(const UnitOutcome& u, int signal) {
    return u.result == UnitResult::Interrupted ? 128 + signal : static_cast<int>(u.result);
}

// One unit, or with --loop units until interrupted. Returns the exit status.
int RunOneAtATime(const CliOptions& o, const ImageDigest& image) {
    UnitRunner runner(o, o.ports);
    std::string error;
    if (!runner.Prepare(error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return 2;
    }
    Output out(o, false, StdoutIsTerminal());
    // With --loop the first Ctrl+C lets the unit under way finish, so that
    // no unit is left half-programmed; a second one, or SIGTERM, stops at
    // once (interrupts.h). Without --loop any interrupt stops at once.
    int passed = 0, failed = 0, status = 0;
    do {
        runner.Start(out.Events());
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
        out.Result(u);
        Record(o, u, image);
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
int RunParallel(const CliOptions& o, const ImageDigest& image) {
    std::vector<std::unique_ptr<UnitRunner>> runners;
    std::vector<std::unique_ptr<Output>> outputs;
    std::vector<UnitRunner*> units;
    for (const std::string& port : o.ports) {
        runners.push_back(std::make_unique<UnitRunner>(o, std::vector<std::string>{port}));
        std::string error;
        if (!runners.back()->Prepare(error)) {
            std::fprintf(stderr, "download-cli: %s\n", error.c_str());
            return 2;
        }
        outputs.push_back(std::make_unique<Output>(o, true, false));
        units.push_back(runners.back().get());
    }
    for (std::size_t i = 0; i < runners.size(); ++i) {
        runners[i]->Start(outputs[i]->Events());
    }
    int worst = 0;
    RunUnits(units, StopSignal, InterruptReason, [&](std::size_t i) {
        const UnitOutcome u = runners[i]->Outcome();
        outputs[i]->Result(u);
        Record(o, u, image);
        worst = std::max(worst, ExitStatus(u, LastInterrupt()));
    });
    return worst;
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
        return 2;
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
    // The image is read once for its fingerprint, refused here already if
    // it is not a regular file, and never waited on.
    ImageDigest image;
    if (!DigestImage(options->image, image, error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return 2;
    }
    CWinApp app;
    return options->parallel ? RunParallel(*options, image) : RunOneAtATime(*options, image);
}
