// Pseudo-terminals for the end-to-end benchmark, and a relay that joins two
// of them as socat would while it notes when the data phase of a transfer
// begins and ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tools/target_sim/posix/pty_server.h"

// A pseudo-terminal of target-sim's kind (raw, a slave kept open), or we
// stop: without one there is nothing to measure.
void OpenPty(PtyServer& pty);

// Opens a device raw, as a serial port would be, or stops.
int OpenRaw(const std::string& device);

// Copies bytes both ways between two descriptors on a thread, and notes
// when the sender's byte count passes two marks: the first byte of the
// first data block and the last byte of the last one.
class Relay {
  public:
    using Clock = std::chrono::steady_clock;

    Relay(int sender, int receiver, std::uint64_t firstMark, std::uint64_t lastMark);
    ~Relay();  // stops the thread
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Seconds from the first mark to the last; 0 when not both were seen.
    double DataPhase() const;

  private:
    void Run();

    int m_sender, m_receiver;
    std::uint64_t m_first, m_last;
    int m_stop[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::uint64_t m_sent = 0;
    std::optional<Clock::time_point> m_firstAt, m_lastAt;
    std::thread m_thread;
};
