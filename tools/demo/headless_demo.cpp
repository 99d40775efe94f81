// A whole download against the simulated machine, with no window and no
// hardware: the main dialog runs on the headless framework, the machine sits
// on an in-memory "COM3", and the status line and progress are printed as
// they change.
//
//   headless-demo [--type 0|1|2] [--size BYTES]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "image/stored_image.h"
#include "tools/sim/memory_device.h"
#include "ui/download_dlg.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: headless-demo [--type 0|1|2] [--size BYTES]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int type = 1;
    unsigned long size = 4000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--type") == 0 && i + 1 < argc) {
            type = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            size = std::strtoul(argv[++i], nullptr, 10);
        } else {
            return Usage();
        }
    }
    if (type < 0 || type > 2 || size > kImageCapacity) {
        return Usage();
    }

    // The image, and its file as the machine type stores it.
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const MachineTypeInfo& info = kMachineTypes[static_cast<std::size_t>(type)];
    const auto path = std::filesystem::temp_directory_path() /
                      ("headless-demo" + StoredFileSuffix(static_cast<MachineType>(type)));
    if (!WriteStoredImage(path.string(), static_cast<MachineType>(type), image)) {
        std::fprintf(stderr, "headless-demo: cannot write %s\n", path.string().c_str());
        return 1;
    }

    CWinApp app;
    SimulatedDevice machine(static_cast<MachineType>(type), {}, static_cast<std::uint32_t>(size));
    machine.AttachTo("COM3");

    CDownloadDlg dlg;
    app.m_pMainWnd = &dlg;
    dlg.Create();

    std::string lastLine;
    headless::OnControlChanged([&](CWnd& d, int id) {
        // Print each new status text, with the bytes sent at that moment.
        if (id != IDC_STATUS || d.GetDlgItemText(IDC_STATUS) == lastLine) {
            return;
        }
        lastLine = d.GetDlgItemText(IDC_STATUS);
        std::printf("[%8.3f s] \"%s\"  Send Length %s\n", headless::Now() / 1000.0,
                    lastLine.c_str(), d.GetDlgItemText(IDC_SEND_LENGTH).c_str());
    });

    // The machine type box opens only after a scan that found nothing.
    if (type != 0) {
        std::printf("Selecting \"%s\": a scan with the machine unplugged comes first.\n",
                    info.name);
        memory::SetBusy("COM3", true);
        headless::ScriptFileDialog([&](const CFileDialog&) { return path.string(); });
        headless::Click(dlg, IDC_LOAD_FILE);
        headless::Click(dlg, IDC_PROGRAM);
        headless::Advance(17000);
        headless::SelectComboItem(dlg, IDC_MACHINE_TYPE, type);
        memory::SetBusy("COM3", false);
    }

    std::printf("Load File: %s (%lu bytes)\n", path.string().c_str(), size);
    headless::ScriptFileDialog([&](const CFileDialog&) { return path.string(); });
    headless::Click(dlg, IDC_LOAD_FILE);
    std::printf("Program\n");
    const std::uint64_t start = headless::Now();
    headless::Click(dlg, IDC_PROGRAM);
    while (!dlg.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled() && headless::Now() - start < 600000) {
        headless::Advance(10);
    }
    std::printf("%s\n", DescribeOutcome(machine.machine, &image).c_str());
    std::filesystem::remove(path);
    const bool ok = machine.machine.Received() == image;
    dlg.DestroyWindow();
    return ok ? 0 : 1;
}
