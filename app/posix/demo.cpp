// The demo's simulator and sample image.
#include "app/posix/demo.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "image/stored_image.h"

namespace {

constexpr std::size_t kDemoImageSize = 24 * 1024;

std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
}

}  // namespace

Demo::~Demo() {
    if (m_sim.Running()) {
        std::string said;
        m_sim.Stop(&said);
        if (!said.empty()) {
            std::fprintf(stdout, "target-sim: %s", said.c_str());
            std::fflush(stdout);
        }
    }
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

std::string Demo::Start() {
    char pattern[] = "/tmp/download-tool-demo-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "download-tool: cannot make a folder for the demo: %s\n",
                     std::strerror(errno));
        return {};
    }
    m_dir = pattern;
    const auto image = m_dir / "demo.EUP";
    std::vector<std::uint8_t> bytes(kDemoImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    }
    if (!WriteStoredImage(image.string(), 0, bytes)) {
        std::fprintf(stderr, "download-tool: cannot write %s\n", image.c_str());
        return {};
    }

    const auto sim = ExecutableDir() / "target-sim";
    if (!m_sim.Start({sim.string(), "--type", "0", "--expect", image.string()})) {
        std::fprintf(stderr, "download-tool: cannot start %s\n", sim.c_str());
        return {};
    }
    const std::string port = m_sim.ReadLine(5000);
    if (port.empty()) {
        std::fprintf(stderr, "download-tool: %s did not name its port\n", sim.c_str());
        return {};
    }
    return port;
}
