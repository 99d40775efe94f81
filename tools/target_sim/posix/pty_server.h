// The line side of target-sim: a pseudo-terminal whose slave end the tool
// opens as its serial port, served from the master end.
//
// Principles of operation
// -----------------------
// The slave is put in raw mode before the tool sees it, so no byte of the
// machine's replies is taken as a control character (0x11 and 0x13 occur
// in block numbers), and the tool's port settings keep it that way.
//
// The server keeps one slave descriptor of its own open for as long as it
// serves. A master whose slave has no opener reports a hang-up to every
// poll(), which would make the serving loop spin between the tool's
// sessions; with our own opener it never does. The price is that the
// master cannot see the tool close its port, so that is watched for with
// inotify on the slave's device node instead.
//
// Close() drops both ends: the tool's open port then reads as hung up, as
// after a pulled cable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class PtyServer {
  public:
    PtyServer() = default;
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pair. On failure returns false and says why in *error.
    bool Open(std::string* error);
    const std::string& SlavePath() const { return m_slavePath; }

    // Descriptors to poll: readable when the tool has written, and when
    // the tool has closed its side.
    int MasterFd() const { return m_master; }
    int CloseWatchFd() const { return m_watch; }

    // What the tool wrote: bytes read, 0 when nothing is there, -1 when the
    // line is gone.
    long Read(std::uint8_t* buffer, std::size_t capacity);
    // True once per batch of closes of the tool's side since the last call.
    bool TakeHostClosed();

    // Writes all of the bytes, waiting for room as needed. With baud > 0
    // the bytes go out no faster than that line rate (10 bits a byte).
    // Gives up, returning false, when stopFd becomes readable or the line
    // fails.
    bool Write(const std::uint8_t* bytes, std::size_t n, unsigned baud, int stopFd);
    // Waits until the tool has read everything written to it, at most
    // limitMs: what is written next then reaches it in a read of its own.
    // False when stopFd becomes readable first.
    bool WaitUntilRead(int limitMs, int stopFd);

    // Holds (true) or lets go (false) what the tool writes, as a device's
    // flow control does: held, the tool's writes find no room on the line.
    // False, with the reason in *error, when the terminal refuses.
    bool HoldOutput(bool held, std::string* error);

    void Close();

  private:
    bool WriteNow(const std::uint8_t* bytes, std::size_t n, int stopFd);

    int m_master = -1;
    int m_slave = -1;  // our own opener; see above
    int m_watch = -1;  // inotify on the slave's node
    std::string m_slavePath;
};
