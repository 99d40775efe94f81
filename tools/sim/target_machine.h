// A simulated target machine: the machine's side of both protocols, as a
// pure model of bytes in and replies out, with faults to order.
//
// Principles of operation
// -----------------------
// The host's bytes go in through OnHostBytes, in whatever pieces the line
// delivers them. What comes back is a list of replies, each one chunk of
// bytes sent without a pause, after a delay. A front end carries them: the
// in-memory line (memory_device.h) delivers each chunk as one read on the
// headless clock; target-sim writes them to a pseudo-terminal.
//
// The machine records the image it receives. For the framed machines it
// checks the access string of the opening request and the checksum of
// every block (asking for a bad block again).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/machine_types.h"

struct SimFaults {
    bool silent = false;        // never answers
    bool noise = false;         // garbage before every reply
    int repeatEvery = 0;        // asks for every Nth block twice (0: never)
    int stopAtBlock = -1;       // framed: sends the stop frame instead of asking for this block
    bool splitReplies = false;  // sends each reply in two pieces, with a pause between
    int vanishAfterBlock = -1;  // hangs up after receiving this many blocks
    int muteAfterBlock = -1;    // stops answering, line kept up, after this many blocks
    // Restarts once, as after a reset, on receiving this many blocks: answers
    // nothing more of that download and waits for a new opening request.
    int restartAfterBlock = -1;
    // Holds the host's output, as a device's flow control does, once it has
    // received this many blocks (after asking for the next): the front end
    // holds its line while WantsOutputHeld(), until the host closes.
    int holdAfterBlock = -1;
    // Character protocol: takes the 16-bit length the host announces even
    // when an expected size is given, as a real machine does; an image of
    // 65536 bytes or more is then asked for only up to its length mod 65536.
    bool trustLength = false;
    // Answers this many opening requests (downloads), then no more, as a
    // fixture whose unit was taken away (0: every one).
    int sessions = 0;
};

struct SimReply {
    std::uint32_t delayMs;  // after the host's bytes (or after the previous piece)
    std::vector<std::uint8_t> bytes;
    // The host reads these bytes before the next piece is sent, so that
    // they reach it in a read of their own however late it reads.
    bool readAlone = false;
};

class TargetMachine {
  public:
    // expectedSize: the image length the machine expects, which ends a framed
    // download whose length is a multiple of 128 and stands in for a 16-bit
    // length announcement that wrapped. 0: take the announcement, and let a
    // short block end a framed download.
    TargetMachine(MachineType type, SimFaults faults, std::uint32_t expectedSize = 0);

    std::vector<SimReply> OnHostBytes(const std::uint8_t* bytes, std::size_t n);
    // The host closed the port: the session starts over (a framed one with
    // the next opening request).
    void Reset();

    MachineType Type() const { return m_type; }
    const std::vector<std::uint8_t>& Received() const { return m_image; }
    bool Finished() const { return m_finished; }  // the whole image arrived and the close was seen
    bool Stopped() const { return m_stopped; }    // sent the stop frame
    bool Vanished() const { return m_vanished; }  // hung up
    bool Muted() const { return m_muted; }        // fell silent on purpose
    bool Restarted() const { return m_restarted; }  // restarted mid-download
    bool WantsOutputHeld() const {
        return m_faults.holdAfterBlock >= 0 && m_blocks >= m_faults.holdAfterBlock;
    }
    int BlocksReceived() const { return m_blocks; }
    int RepeatsAsked() const { return m_repeats; }
    // The pause between the two pieces of a split reply, and before a reply
    // that follows noise: longer than either read interval, so each piece
    // is a read of its own.
    std::uint32_t splitPauseMs = 100;
    std::uint32_t turnaroundMs = 2;

  private:
    std::vector<SimReply> Char(const std::uint8_t* bytes, std::size_t n);
    std::vector<SimReply> Framed(const std::uint8_t* bytes, std::size_t n);
    std::vector<SimReply> Reply(std::vector<std::uint8_t> bytes);
    std::vector<SimReply> Request(std::uint8_t command, std::uint8_t block);
    bool ShouldVanish();
    // Counts an opening request that may start a session (SimFaults::sessions).
    bool SessionAllowed();
    bool ShouldRestart();

    MachineType m_type;
    SimFaults m_faults;
    std::uint32_t m_expected;

    // Character protocol.
    enum class CharStep { Idle, Length, Block, Finish, Done } m_step = CharStep::Idle;
    std::vector<std::uint8_t> m_pending;
    std::uint32_t m_blockWanted = 0;
    std::uint32_t m_total = 0;

    // Block protocol.
    bool m_open = false;
    std::uint32_t m_nextBlock = 0;  // blocks received so far, counted from 0
    bool m_repeatedThis = false;

    std::vector<std::uint8_t> m_image;
    int m_sessions = 0;  // opening requests answered
    bool m_finished = false, m_stopped = false, m_vanished = false, m_muted = false;
    bool m_restarted = false;
    int m_blocks = 0, m_repeats = 0;
};

// One line for the exit of a simulator run: what arrived and whether it
// matched the expected image.
std::string DescribeOutcome(const TargetMachine& machine,
                            const std::vector<std::uint8_t>* expected);
