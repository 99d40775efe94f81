// The POSIX serial backend over pseudo-terminals: opening, line settings,
// writes, reads and their timing, and the end of the receive worker.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "serial/in_frame.h"
#include "serial/receive_worker.h"
#include "serial/rx_decoder.h"
#include "serial/serial_port.h"
#include "tests/posix/posix_support.h"

namespace {

class PortTest : public ::testing::Test {
  protected:
    void TearDown() override { ClosePort(port); }

    // Opens the pseudo-terminal's slave as the tool does, for `type`.
    void OpenFor(MachineType type) {
        port = OpenPortByName(pty.Path());
        ASSERT_NE(port, kInvalidPort) << LastOpenError();
        ConfigurePort(port, type);
    }

    // Every ReadPort until `total` bytes came: the size of each read.
    std::vector<long> ReadsUntil(std::size_t total, std::size_t capacity = kReadSize) {
        std::vector<long> sizes;
        RunBounded(
            "ReadPort",
            [&] {
                std::size_t got = 0;
                std::vector<std::uint8_t> buffer(capacity);
                while (got < total) {
                    const long n = ReadPort(port, buffer.data(), capacity);
                    sizes.push_back(n);
                    if (n <= 0) {
                        return;
                    }
                    got += static_cast<std::size_t>(n);
                }
            },
            5s);
        return sizes;
    }

    // A worker that reports nowhere: any read it makes ends it.
    std::uintptr_t StartWorker(MachineType type) {
        auto* params = new WorkerParams;
        params->port = port;
        params->machineType = type;
        return StartReceiveWorker(params);
    }

    PtyPair pty;
    PortHandle port = kInvalidPort;
};

// --- Opening -------------------------------------------------------------------------

TEST_F(PortTest, OpenFailuresSayWhyAndKeepNothingOpen) {
    const auto file = UniqueTempPath("posix_tests_plain_file");
    std::ofstream(file) << "not a tty";
    struct Case {
        std::string path;
        std::string reason;
    } cases[] = {
        {"/nonexistent/ttyX", "No such file or directory"},
        {"/dev/null", "Not a serial device"},
        {file.string(), "Not a serial device"},
        {"/tmp", "Is a directory"},
    };
    const int fds = OpenDescriptorCount();
    for (const Case& c : cases) {
        EXPECT_EQ(OpenPortByName(c.path), kInvalidPort) << c.path;
        EXPECT_EQ(LastOpenError(), c.reason) << c.path;
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
    std::filesystem::remove(file);
}

// Each station position opens and configures its own port on its own
// thread: the reasons a thread reads are its own calls', whatever another
// thread's calls failed with in between.
TEST_F(PortTest, OpenAndConfigureReasonsAreEachThreadsOwn) {
    EXPECT_EQ(OpenPortByName("/nonexistent/ttyX"), kInvalidPort);
    EXPECT_FALSE(ConfigurePort(kInvalidPort, 1));
    std::string otherOpen, otherConfigure;
    std::thread other([&] {
        EXPECT_EQ(OpenPortByName("/dev/null"), kInvalidPort);
        PtyPair line;
        const PortHandle h = OpenPortByName(line.Path());
        EXPECT_NE(h, kInvalidPort);
        EXPECT_FALSE(ConfigurePort(h, 3));  // no such machine type
        otherOpen = LastOpenError();
        otherConfigure = LastConfigureError();
        ClosePort(h);
    });
    other.join();
    EXPECT_EQ(otherOpen, "Not a serial device");
    EXPECT_EQ(otherConfigure, "no such machine type");
    EXPECT_EQ(LastOpenError(), "No such file or directory");
    EXPECT_EQ(LastConfigureError(), "no such port");
}

TEST_F(PortTest, SecondOpenIsRefusedUntilTheFirstCloses) {
    port = OpenPortByName(pty.Path());
    ASSERT_NE(port, kInvalidPort) << LastOpenError();
    EXPECT_EQ(OpenPortByName(pty.Path()), kInvalidPort);
    EXPECT_EQ(LastOpenError(), "Device or resource busy");

    ClosePort(port);
    port = OpenPortByName(pty.Path());
    EXPECT_NE(port, kInvalidPort) << LastOpenError();
}

// --- Line settings -------------------------------------------------------------------

struct SettingsCase {
    MachineType type;
    speed_t speed;
    bool driverHasStopAndFlow;  // two stop bits, RTS/CTS and XON/XOFF preset
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << "type " << int{c.type} << (c.driverHasStopAndFlow ? ", stop bits and flow preset" : "");
}

class ConfigureTest : public PortTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(ConfigureTest, SetsOursAndKeepsTheDriversStopBitsAndFlowControl) {
    const SettingsCase c = GetParam();
    // A cooked line at another speed, as a driver might leave it.
    termios preset = pty.Settings();
    cfsetispeed(&preset, B1200);
    cfsetospeed(&preset, B1200);
    preset.c_iflag |= ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | INPCK | PARMRK;
    preset.c_oflag |= OPOST | ONLCR;
    preset.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    preset.c_cflag |= PARODD;
    const tcflag_t flow = IXON | IXOFF;
    if (c.driverHasStopAndFlow) {
        preset.c_cflag |= CSTOPB | CRTSCTS;
        preset.c_iflag |= flow;
    } else {
        preset.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
        preset.c_iflag &= ~flow;
    }
    pty.Apply(preset);

    OpenFor(c.type);
    const termios t = pty.Settings();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    // Raw: nothing the line carries is edited, echoed or translated.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | INPCK | PARMRK), 0u);
    // The driver's stop bits and hardware flow control; software flow
    // control is off always, or 0x11 and 0x13 would never arrive.
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.driverHasStopAndFlow);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.driverHasStopAndFlow);
    EXPECT_EQ(t.c_iflag & (flow | IXANY), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EachMachineType, ConfigureTest,
    ::testing::Values(SettingsCase{0, B9600, true}, SettingsCase{0, B9600, false},
                      SettingsCase{1, B57600, true}, SettingsCase{1, B57600, false},
                      SettingsCase{2, B57600, true}, SettingsCase{2, B57600, false}),
    [](const auto& info) {
        return "type" + std::to_string(info.param.type) +
               (info.param.driverHasStopAndFlow ? "_stop_and_flow_preset" : "_plain");
    });

// Closing the port puts back every setting it had when it was opened, the
// driver's cooked line and its speed included, for each machine type.
TEST_F(PortTest, ClosingPutsBackTheSettingsItFound) {
    termios preset = pty.Settings();
    cfsetispeed(&preset, B1200);
    cfsetospeed(&preset, B2400);
    preset.c_iflag |= ICRNL | IXON | IXOFF | BRKINT;
    preset.c_oflag |= OPOST | ONLCR;
    preset.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    preset.c_cflag = (preset.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB;
    preset.c_cc[VMIN] = 1;
    preset.c_cc[VTIME] = 5;
    for (MachineType type : {0, 1, 2}) {
        SCOPED_TRACE(int{type});
        pty.Apply(preset);
        const termios before = pty.Settings();
        OpenFor(type);
        ASSERT_EQ(LastConfigureError(), "");
        StartWorker(type);  // closing ends it first, then puts the settings back
        ASSERT_TRUE(WritePort(port, reinterpret_cast<const std::uint8_t*>("0"), 1));
        const termios during = pty.Settings();
        ASSERT_NE(cfgetospeed(&during), cfgetospeed(&before)) << "the port was set up";
        ClosePort(port);
        port = kNoPort;

        const termios after = pty.Settings();
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        for (std::size_t i = 0; i < NCCS; ++i) {
            EXPECT_EQ(after.c_cc[i], before.c_cc[i]) << "c_cc[" << i << "]";
        }
        EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    }
}

// A configuration call that fails is reported with its name and the
// system's reason; a later one that goes through clears the report.
TEST_F(PortTest, FailedConfigurationNamesTheCallAndTheReason) {
    port = OpenPortByName(pty.Path());
    ASSERT_NE(port, kInvalidPort) << LastOpenError();
    pty.CloseMaster();  // a hung-up terminal refuses its settings
    EXPECT_FALSE(ConfigurePort(port, 1));
    EXPECT_EQ(LastConfigureError(), std::string("tcgetattr: ") + std::strerror(EIO));
    ClosePort(port);
    port = kNoPort;

    PtyPair other;
    port = OpenPortByName(other.Path());
    ASSERT_NE(port, kInvalidPort) << LastOpenError();
    EXPECT_TRUE(ConfigurePort(port, 1));
    EXPECT_EQ(LastConfigureError(), "");
    EXPECT_FALSE(ConfigurePort(port, 3)) << "no such machine type";
    EXPECT_NE(LastConfigureError(), "");
}

TEST_F(PortTest, ConfigureDiscardsWhatCameBefore) {
    port = OpenPortByName(pty.Path());
    ASSERT_NE(port, kInvalidPort) << LastOpenError();
    pty.Send({'s', 't', 'a', 'l', 'e', '\n'});
    // The line is still cooked: once it is readable, the stale bytes are in.
    ASSERT_TRUE(WaitFor(
        [&] {
            pollfd p{pty.Slave(), POLLIN, 0};
            return poll(&p, 1, 0) == 1;
        },
        5s));
    ConfigurePort(port, 1);
    pty.Send({'n', 'e', 'w'});
    std::uint8_t buffer[16];
    long n = 0;
    RunBounded(
        "ReadPort", [&] { n = ReadPort(port, buffer, sizeof buffer); }, 5s);
    EXPECT_EQ(Bytes(buffer, buffer + std::max(n, 0L)), (Bytes{'n', 'e', 'w'}));
}

TEST_F(PortTest, EveryByteValuePassesUnchangedBothWays) {
    OpenFor(1);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }

    pty.Send(all);
    Bytes got;
    RunBounded(
        "ReadPort",
        [&] {
            std::uint8_t buffer[kReadSize];
            while (got.size() < all.size()) {
                const long n = ReadPort(port, buffer, sizeof buffer);
                if (n <= 0) {
                    return;
                }
                got.insert(got.end(), buffer, buffer + n);
            }
        },
        5s);
    EXPECT_EQ(got, all);

    ASSERT_TRUE(WritePort(port, all.data(), all.size()));
    // Exactly what was written: nothing echoed back, nothing translated.
    EXPECT_EQ(pty.Receive(all.size() + 1, 300ms), all);
}

// --- Writing -------------------------------------------------------------------------

TEST_F(PortTest, WriteSendsAllOrNothingForZero) {
    OpenFor(0);
    const std::uint8_t one = 'x';
    EXPECT_TRUE(WritePort(port, &one, 0));
    EXPECT_TRUE(pty.Receive(1, 100ms).empty());

    const Bytes block = Pattern(3000);
    EXPECT_TRUE(WritePort(port, block.data(), block.size()));
    EXPECT_EQ(pty.Receive(block.size(), 5s), block);
}

// Fills the line until it takes no more, through the test's own opener.
// The kernel frees room in steps as it moves bytes on, so fill until even a
// single byte finds none after a pause.
namespace {
void FillLine(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const Bytes filler(4096, 0x55);
    for (int quiet = 0; quiet < 3;) {
        bool took = false;
        while (write(fd, filler.data(), filler.size()) > 0 || write(fd, filler.data(), 1) > 0) {
            took = true;
        }
        quiet = took ? 0 : quiet + 1;
        std::this_thread::sleep_for(20ms);
    }
}
}  // namespace

TEST_F(PortTest, WriteGivesUpWhenTheLineTakesNothing) {
    OpenFor(1);
    FillLine(pty.Slave());
    const std::uint8_t one = 'x';
    bool ok = true;
    RunBounded(
        "WritePort", [&] { ok = WritePort(port, &one, 1); }, 5s);
    EXPECT_FALSE(ok);
}

// A write whose bound is hours away gives up as soon as the abort flag is
// set (download-cli's Ctrl+C), not at its bound.
TEST_F(PortTest, WriteGivesUpAtOnceWhenAborted) {
    OpenFor(1);
    FillLine(pty.Slave());
    std::atomic<int> abort{0};
    SetPortOptions(port, {.abortFlag = &abort});
    const Bytes block(100000, 0x2A);  // bound: 100 ms a byte
    bool ok = true;
    std::atomic<std::int64_t> abortedAt{0};
    std::thread interrupter([&] {
        std::this_thread::sleep_for(200ms);
        abortedAt = std::chrono::steady_clock::now().time_since_epoch().count();
        abort = 1;
    });
    std::chrono::steady_clock::time_point returned;
    std::string reason;
    RunBounded(
        "WritePort",
        [&] {
            ok = WritePort(port, block.data(), block.size());
            returned = std::chrono::steady_clock::now();
            reason = LastWriteError();  // kept per thread
        },
        10s);
    interrupter.join();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(reason.starts_with("given up: interrupted")) << reason;
    // Within kAbortCheckMs of the flag; a second is a generous margin, not
    // a measure.
    const auto late = returned - std::chrono::steady_clock::time_point(
                                     std::chrono::steady_clock::duration(abortedAt.load()));
    EXPECT_LT(late, 1s) << "gave up "
                        << std::chrono::duration_cast<std::chrono::milliseconds>(late).count()
                        << " ms after the abort";
}

// A line whose output is held (flow control, as a device's XOFF does; here
// the terminal's output suspended): the write gives up at its bound, 100 ms
// a byte and 100 ms, and says so. What is written meanwhile drains at once
// once the hold is lifted.
TEST_F(PortTest, AWriteToAHeldLineTimesOutAndSaysSo) {
    OpenFor(1);
    ASSERT_EQ(tcflow(pty.Slave(), TCOOFF), 0);
    const Bytes frame(5, 0x2A);  // bound: 600 ms
    bool ok = true;
    std::string reason;
    RunBounded(
        "WritePort",
        [&] {
            ok = WritePort(port, frame.data(), frame.size());
            reason = LastWriteError();  // kept per thread
        },
        5s);
    EXPECT_FALSE(ok);
    EXPECT_EQ(reason, "timed out after 600 ms (0 of 5 bytes taken)");

    ASSERT_EQ(tcflow(pty.Slave(), TCOON), 0);
    EXPECT_TRUE(WritePort(port, frame.data(), frame.size())) << LastWriteError();
    EXPECT_TRUE(DrainPort(port)) << LastWriteError();
    EXPECT_FALSE(DrainPort(port + 1000));
    EXPECT_EQ(LastWriteError(), "the port is not open");
}

// An abort flag is its own port's: set, it makes that port's held write
// give up at once, while a port open beside it, whose flag is clear, waits
// out its bound as before; and a port opened afterwards on the same device
// starts without any flag.
TEST_F(PortTest, AnAbortFlagGivesUpTheWritesOfItsOwnPortOnly) {
    PtyPair besidePty;
    const PortHandle beside = OpenPortByName(besidePty.Path());
    ASSERT_NE(beside, kInvalidPort) << LastOpenError();
    ConfigurePort(beside, 1);
    OpenFor(1);
    std::atomic<int> stopNow{1};
    std::atomic<int> goOn{0};
    SetPortOptions(beside, {.abortFlag = &goOn});
    SetPortOptions(port, {.abortFlag = &stopNow});
    ASSERT_EQ(tcflow(pty.Slave(), TCOOFF), 0);
    ASSERT_EQ(tcflow(besidePty.Slave(), TCOOFF), 0);
    const Bytes frame(5, 0x2A);  // bound: 600 ms
    auto writeReason = [&](PortHandle h) {
        std::string reason = "(the write went through)";
        RunBounded(
            "WritePort",
            [&] {
                if (!WritePort(h, frame.data(), frame.size())) {
                    reason = LastWriteError();  // kept per thread
                }
            },
            5s);
        return reason;
    };
    EXPECT_EQ(writeReason(port), "given up: interrupted (0 of 5 bytes taken)");
    EXPECT_EQ(writeReason(beside), "timed out after 600 ms (0 of 5 bytes taken)");

    ClosePort(port);
    port = OpenPortByName(pty.Path());
    ASSERT_NE(port, kInvalidPort) << LastOpenError();
    ConfigurePort(port, 1);
    ASSERT_EQ(tcflow(pty.Slave(), TCOOFF), 0);
    EXPECT_EQ(writeReason(port), "timed out after 600 ms (0 of 5 bytes taken)");
    ClosePort(beside);
}

TEST_F(PortTest, WriteFailsOnAHungUpLineAndAnUnknownPort) {
    OpenFor(1);
    pty.CloseMaster();
    const std::uint8_t one = 'x';
    EXPECT_FALSE(WritePort(port, &one, 1));
    EXPECT_FALSE(WritePort(port + 1000, &one, 1));
}

// --- Reading -------------------------------------------------------------------------

struct GapCase {
    MachineType type;
    int pauseMs;  // between two pieces of 10 bytes; 0 sends them as one
    std::size_t reads;
};

void PrintTo(const GapCase& c, std::ostream* os) {
    *os << "type " << int{c.type} << ", pause " << c.pauseMs << " ms";
}

class ReadGapTest : public PortTest, public ::testing::WithParamInterface<GapCase> {};

// A pause ends a read only when it is longer than the type's interval: 45 ms
// lies between the 20 ms of the framed machines and the 70 ms of the other.
TEST_P(ReadGapTest, APauseLongerThanTheIntervalSplitsTheReply) {
    const GapCase c = GetParam();
    OpenFor(c.type);
    const Bytes reply = Pattern(20);
    std::thread machine([&] {
        if (c.pauseMs == 0) {
            pty.Send(reply);
            return;
        }
        pty.Send(Bytes(reply.begin(), reply.begin() + 10));
        std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs));
        pty.Send(Bytes(reply.begin() + 10, reply.end()));
    });
    const std::vector<long> reads = ReadsUntil(reply.size());
    machine.join();
    EXPECT_EQ(reads.size(), c.reads);
    if (c.reads == 2 && reads.size() == 2) {
        EXPECT_EQ(reads[0], 10);
    }
}

INSTANTIATE_TEST_SUITE_P(ByMachineType, ReadGapTest,
                         ::testing::Values(GapCase{0, 0, 1}, GapCase{0, 45, 1}, GapCase{0, 150, 2},
                                           GapCase{1, 0, 1}, GapCase{1, 45, 2}, GapCase{2, 45, 2}),
                         [](const auto& info) {
                             return "type" + std::to_string(info.param.type) + "_pause" +
                                    std::to_string(info.param.pauseMs) + "ms";
                         });

// Fast frames are their own port's. Two framed ports, each fed a whole
// frame and then a byte every 2 ms (well within the 20 ms interval) until
// its read returns: the port set fast ends its read at the frame although
// the line never falls silent; the other, set after it, reads on past it.
TEST_F(PortTest, FastFramesEndTheReadsOfTheirOwnPortOnly) {
    PtyPair besidePty;
    const PortHandle beside = OpenPortByName(besidePty.Path());
    ASSERT_NE(beside, kInvalidPort) << LastOpenError();
    ConfigurePort(beside, 1);
    OpenFor(1);
    SetPortOptions(port, {.fastFrames = true});
    SetPortOptions(beside, {.fastFrames = false});
    // A block request for block 0: no data, and a trailing byte.
    const Bytes frame = {kInFrameHeader0, kInFrameHeader1, kBlockRequest, 0, 0, 0x5A};
    auto readWhileStreaming = [&](PtyPair& line, PortHandle h) {
        std::atomic<bool> returned{false};
        std::thread machine([&] {
            line.Send(frame);
            for (int i = 0; i < 1000 && !returned; ++i) {
                std::this_thread::sleep_for(2ms);
                line.Send({0x00});
            }
        });
        Bytes got(kReadSize);
        long n = 0;
        RunBounded(
            "ReadPort", [&] { n = ReadPort(h, got.data(), got.size()); }, 5s);
        returned = true;
        machine.join();
        got.resize(static_cast<std::size_t>(std::max(n, 0L)));
        return got;
    };
    const Bytes fast = readWhileStreaming(pty, port);
    const Bytes steady = readWhileStreaming(besidePty, beside);
    ClosePort(beside);

    ASSERT_GE(fast.size(), frame.size());
    EXPECT_EQ(Bytes(fast.begin(), fast.begin() + 6), frame);
    EXPECT_LT(fast.size(), kReadSize) << "the fast port waited for a silence that never came";
    ASSERT_GE(steady.size(), frame.size());
    EXPECT_EQ(Bytes(steady.begin(), steady.begin() + 6), frame);
    EXPECT_GT(steady.size(), frame.size()) << "the other port's read ended at the frame";
}

TEST_F(PortTest, AReplyLongerThanTheBufferArrivesInTwoReads) {
    OpenFor(1);
    pty.Send(Pattern(300));
    EXPECT_EQ(ReadsUntil(300), (std::vector<long>{255, 45}));
}

TEST_F(PortTest, HangUpEndsTheReadWithMinusOne) {
    OpenFor(0);
    std::thread machine([&] {
        std::this_thread::sleep_for(50ms);
        pty.CloseMaster();
    });
    std::uint8_t buffer[kReadSize];
    long first = 0, second = 0;
    RunBounded(
        "ReadPort on a hung-up line",
        [&] {
            first = ReadPort(port, buffer, sizeof buffer);
            second = ReadPort(port, buffer, sizeof buffer);  // at once, not waiting again
        },
        5s);
    machine.join();
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(ReadPort(port + 1000, buffer, sizeof buffer), -1);  // unknown port
}

// --- The worker and closing ----------------------------------------------------------

TEST_F(PortTest, WorkerEndsByItselfWhenTheLineHangsUp) {
    OpenFor(1);
    const int threads = ThreadCount();
    ASSERT_NE(StartWorker(1), 0u);
    EXPECT_EQ(ThreadCount(), threads + 1);
    pty.CloseMaster();
    // Ended, not spinning on the hang-up: its thread is gone before ClosePort.
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == threads; }, 5s));
}

TEST_F(PortTest, ClosePortEndsAWorkerWaitingForAFirstCharacter) {
    OpenFor(0);
    const int threads = ThreadCount();
    ASSERT_NE(StartWorker(0), 0u);
    std::this_thread::sleep_for(50ms);  // let it settle into its wait
    RunBounded(
        "ClosePort", [&] { ClosePort(port); }, 5s);
    port = kInvalidPort;
    EXPECT_EQ(ThreadCount(), threads);
}

TEST_F(PortTest, NothingIsLeftBehindAfterManyCycles) {
    const int fds = OpenDescriptorCount();
    const int threads = ThreadCount();
    for (int i = 0; i < 20; ++i) {
        const auto type = static_cast<MachineType>(i % 3);
        OpenFor(type);
        ASSERT_NE(StartWorker(type), 0u);
        if (i % 2 == 1) {
            pty.Send({'1'});  // some workers end on their own first
        }
        RunBounded(
            "ClosePort", [&] { ClosePort(port); }, 5s);
        port = kInvalidPort;
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(ThreadCount(), threads);
}

TEST_F(PortTest, UnknownHandlesAreHarmless) {
    ClosePort(kNoPort);
    ClosePort(kInvalidPort);
    ClosePort(12345);
    auto* params = new WorkerParams;  // freed by StartReceiveWorker
    params->port = 12345;
    EXPECT_EQ(StartReceiveWorker(params), 0u);
}

}  // namespace
