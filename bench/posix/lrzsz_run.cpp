// lrzsz's XMODEM on the benchmark's image: sx to rx through a relay.
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "bench/posix/e2e_run.h"
#include "bench/posix/relay.h"

LrzszResult RunLrzsz(const std::filesystem::path& work, const std::string& file, std::size_t size) {
    namespace fs = std::filesystem;
    LrzszResult r;
    PtyServer senderPty, receiverPty;
    OpenPty(senderPty);
    OpenPty(receiverPty);
    const std::uint64_t blocks = (size + 127) / 128;
    std::optional<Relay> relay;
    relay.emplace(senderPty.MasterFd(), receiverPty.MasterFd(), 0, blocks * 133);
    const fs::path rxDir = work / "rx";
    fs::create_directories(rxDir);
    fs::remove(rxDir / "received");
    ChildProcess rx, sx;
    Spawn(rx, {"/usr/bin/rx", "-b", "-c", "received"}, receiverPty.SlavePath(), rxDir.string());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // rx is waiting, asking for CRC
    const auto t0 = Clock::now();
    Spawn(sx, {"/usr/bin/sx", "-b", file}, senderPty.SlavePath());
    // sx sometimes misses the answer to its closing EOT and retries for
    // a long time; the data phase is measured by then.
    const int sxStatus = sx.Finish(std::chrono::milliseconds(20000)).status;
    r.seconds = Since(t0, Clock::now());
    const int rxStatus = rx.Finish(std::chrono::milliseconds(5000)).status;
    r.dataPhase = relay->DataPhase();
    relay.reset();
    std::ifstream x(file, std::ios::binary), y(rxDir / "received", std::ios::binary);
    const std::string sent((std::istreambuf_iterator<char>(x)), {});
    const std::string got((std::istreambuf_iterator<char>(y)), {});
    r.ok = sent == got;
    r.closed = sxStatus == 0 && rxStatus == 0;
    return r;
}
