// Fuzzes the two download protocols end to end: a real CDownloadDlg on the
// headless framework, with the input playing the machine on "COM1".
//
// No thread and no wait: the port is the fuzzer's own serial backend
// (direct_serial.h), in which the fuzzer plays the receive worker, putting
// each read through the worker's hand-over rules and handing the result to
// the dialog on this thread. Timers run on the headless virtual clock. So
// an input costs what the dialog's handlers cost, a few microseconds a
// step, and millions of inputs reach deep into downloads.
//
// Input layout:
//   byte 0      machine type, mod 3
//   bytes 1, 2  image length: with bit 7 of byte 1 clear, the 15 bits as
//               they stand (0 to 32767); with it set, scaled to 0 .. 131072
//   byte 3      seed of the image contents
//   then steps, each led by one byte v:
//     v < 0xF0        one read of the next v bytes, delivered on the line
//     0xF0 .. 0xF7    the clock advances (10 ms to 40 s, by v & 7)
//     0xF8 .. 0xFB    Load File of a shorter image: length scaled by the
//                     next byte / 256, contents from the byte after
//     0xFC, 0xFD      Program pressed (ignored while disabled)
//     0xFE, 0xFF      the reply a well-behaved machine would send next, so
//                     that inputs reach deep into a download cheaply (for
//                     the framed machines, after a read that ends any frame
//                     begun before)
//
// Checked after every step:
//   - bytes sent never exceed the image buffer plus one block, and for the
//     framed machines never exceed the image length (measured against the
//     length in effect when the count was last set: a shorter image loaded
//     mid-download takes effect with the next block);
//   - the sent count moves only when a block goes out, or to 0 on Program;
//   - framed machines: each write is one well-formed frame (header, length
//     byte, checksum), at most one per read; scan steps write only the
//     opening request, and a block frame carries exactly the image bytes at
//     its block's offset (empty past the end) under the number asked for;
//     the block counter moves on by one exactly when the next block was
//     asked for, any other request counts as a repeated one, the sent count
//     is the counter's blocks cut at the image length, and Program sets all
//     three to 0, and the character protocol back to its start;
//   - character machine: a read answers with a block of the image bytes at
//     the sent count, the two length bytes, "6", or nothing; scan steps
//     write only the opening "0";
//   - the status line shows one of the texts the window may show, the
//     length box the image length;
//   - after the window is gone, no worker and no port is left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "framework/headless/headless.h"
#include "fuzz/direct_serial.h"
#include "fuzz/memory_files.h"
#include "image/machine_types.h"
#include "image/stored_image.h"
#include "serial/in_frame.h"
#include "serial/serial_port.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz_protocols: check failed at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define CHECK(cond)                          \
    do {                                     \
        if (!(cond)) {                       \
            Fail(#cond, __FILE__, __LINE__); \
        }                                    \
    } while (0)

constexpr const char* kPort = "COM1";  // where the machine is
constexpr std::uint32_t kMaxSentBytes = kImageCapacity + kBlockSize;

// The input, read front to back; reads past the end give 0.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_pos >= m_size; }
    std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::span<const std::uint8_t> Take(std::size_t n) {
        n = std::min(n, m_size - m_pos);
        const std::span<const std::uint8_t> b(m_data + m_pos, n);
        m_pos += n;
        return b;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// The contents of every image made from one seed: an image of n bytes is
// the first n bytes of its seed's stream, as loaded (plain) and as stored in
// a file of the machine types that keep their files scrambled (scrambling
// goes byte by byte, so a prefix of the one is the other's). Each stream is
// made once, the first time its seed comes up.
struct ImageStream {
    Bytes plain, stored;
};

const ImageStream& StreamFor(std::uint8_t seed) {
    static std::unique_ptr<ImageStream> streams[256];
    std::unique_ptr<ImageStream>& s = streams[seed];
    if (!s) {
        s = std::make_unique<ImageStream>();
        s->plain.resize(kImageCapacity);
        std::uint32_t x = seed * 2654435761u + 12345u;
        for (auto& v : s->plain) {
            x = x * 1103515245u + 12345u;
            v = static_cast<std::uint8_t>(x >> 16);
        }
        s->stored = StoredImage(1, s->plain);
    }
    return *s;
}

// Where Load File finds the image: a file in memory (memory_files.h), there
// only for the length of one Load File.
constexpr const char* kImagePath = "IMAGE.BIN";

// The ports a scan walks: the default list, made once rather than for
// every input.
const std::vector<std::string>& Ports() {
    static const std::vector<std::string> ports = DefaultPortList();
    return ports;
}

const std::unordered_set<std::string>& StatusTexts() {
    static const std::unordered_set<std::string> texts = [] {
        std::unordered_set<std::string> t = {kStatusIdle, kStatusOpenFile};
        for (const std::string& name : Ports()) {
            for (const char* suffix : {kStatusOpenSuccess, kStatusOpenFail, kStatusConnectFail}) {
                t.insert(name + suffix);
            }
        }
        for (unsigned percent = 0; percent <= 100; ++percent) {
            char text[64];
            std::snprintf(text, sizeof text, kStatusProgressFormat, percent);
            t.insert(text);
        }
        return t;
    }();
    return texts;
}

CWinApp& App() {
    static CWinApp app;
    return app;
}

// Where each input's dialog is made. The dialog holds the 128 kB image
// buffer; allocated afresh for every input, its pages would be mapped and
// faulted in again each time, which costs more than the input itself.
alignas(CDownloadDlg) unsigned char g_dialogStorage[sizeof(CDownloadDlg)];

// One download session: the dialog, the line and the image it should send.
class Session {
  public:
    explicit Session(MachineType type) : m_type(type), m_info(*FindMachineType(type)) {
        m_dlg = new (g_dialogStorage) CDownloadDlg();
        App().m_pMainWnd = m_dlg;
        CHECK(m_dlg->Create());
        m_dlg->SetPorts(Ports());
    }

    ~Session() {
        m_dlg->~CDownloadDlg();
        m_dlg = nullptr;
        App().m_pMainWnd = nullptr;
        CHECK(direct::LiveWorkerCount() == 0);
        CHECK(direct::OpenPortCount() == 0);
    }

    void Start(std::uint32_t length, std::uint8_t seed) {
        if (m_type != 0) {
            // The machine type box opens only after a scan that found nothing.
            // A one-port list makes that scan short (the scan takes its list
            // at its first step, a second after Program); the bound covers a
            // scan of every port all the same (no device is attached yet).
            Load(10, 0);
            CHECK(headless::Click(*m_dlg, IDC_PROGRAM));
            m_dlg->SetPorts({"NOWHERE"});
            for (int s = 0; s < 300 && !m_dlg->GetDlgItem(IDC_MACHINE_TYPE)->IsWindowEnabled();
                 ++s) {
                headless::Advance(kScanStepMs);
            }
            m_dlg->SetPorts(Ports());
            CHECK(headless::SelectComboItem(*m_dlg, IDC_MACHINE_TYPE, m_type));
            CHECK(m_dlg->GetMachineType() == m_type);
        }
        m_device = &direct::AttachDevice(kPort);
        Load(length, seed);
        CHECK(headless::Click(*m_dlg, IDC_PROGRAM));
        m_lengthAtLastSend = m_dlg->GetImageLength();
        headless::Advance(1000);
        CHECK(m_dlg->GetDlgItemText(IDC_STATUS) == std::string("COM1") + kStatusOpenSuccess);
        CHECK(Writes().size() == 1);
        CheckScanWrites(0);
    }

    void Step(Input& in) {
        const std::uint8_t v = in.Byte();
        const std::uint32_t sentBefore = m_dlg->GetSentBytes();
        const std::size_t writesBefore = Writes().size();
        if (v < 0xF0) {
            Deliver(in.Take(v), sentBefore, writesBefore, std::nullopt);
        } else if (v < 0xF8) {
            static constexpr std::uint64_t kMs[] = {10, 100, 999, 1000, 2000, 5000, 17000, 40000};
            headless::Advance(kMs[v & 7]);
            CHECK(m_dlg->GetSentBytes() == sentBefore);
            CheckScanWrites(writesBefore);
        } else if (v < 0xFC) {
            const std::uint8_t fraction = in.Byte();
            const std::uint8_t seed = in.Byte();
            Load(m_image.size() * fraction / 256, seed);
            CHECK(m_dlg->GetSentBytes() == sentBefore);
            CHECK(Writes().size() == writesBefore);
        } else if (v < 0xFE) {
            if (headless::Click(*m_dlg, IDC_PROGRAM)) {
                CHECK(m_dlg->GetSentBytes() == 0);
                CHECK(m_dlg->GetBlockCounter() == 0);
                CHECK(m_dlg->GetRepeatedRequests() == 0);
                CHECK(m_dlg->GetCharState() == CharState::AwaitStart);
                m_lengthAtLastSend = m_dlg->GetImageLength();
            } else {
                CHECK(m_dlg->GetSentBytes() == sentBefore);
            }
            CHECK(Writes().size() == writesBefore);
        } else {
            NextReply(sentBefore, writesBefore);
        }
        CheckWindow();
    }

  private:
    std::span<const Bytes> Writes() const { return direct::Writes(*m_device); }

    // Load File of an image of `length` bytes from `seed`'s stream, stored
    // as the selected machine type keeps its files.
    void Load(std::size_t length, std::uint8_t seed) {
        const ImageStream& stream = StreamFor(seed);
        const bool scrambled = FindMachineType(m_dlg->GetMachineType())->unscrambleOnLoad;
        memfile::Put(kImagePath, (scrambled ? stream.stored : stream.plain).data(), length);
        headless::ScriptFileDialog([](const CFileDialog&) { return std::string(kImagePath); });
        CHECK(headless::Click(*m_dlg, IDC_LOAD_FILE));
        memfile::Remove(kImagePath);
        const std::span<const std::uint8_t> image(stream.plain.data(), length);
        CHECK(m_dlg->GetImageLength() == image.size());
        CHECK(std::equal(image.begin(), image.end(), m_dlg->GetImage()));
        m_image = image;
    }

    // What a machine that follows the protocol would send next.
    void NextReply(std::uint32_t sentBefore, std::size_t writesBefore) {
        if (m_info.protocol == ProtocolKind::CharProtocol) {
            std::string_view reply;
            switch (m_dlg->GetCharState()) {
                case CharState::AwaitStart:
                    reply = "1";
                    break;
                case CharState::Sending:
                    reply = sentBefore < m_dlg->GetImageLength() ? "23" : "24";
                    break;
                case CharState::AwaitFinish:
                    reply = "6";
                    break;
            }
            Deliver({reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()}, sentBefore,
                    writesBefore, std::nullopt);
        } else {
            // The receive worker's hunt state carries over from earlier reads,
            // so a request could land inside a frame begun before. A read of
            // four zeros brings the hunt back to its start from any state
            // (it may complete that frame, which is checked as any read).
            static constexpr std::uint8_t kZeros[4] = {};
            Deliver(kZeros, sentBefore, writesBefore, std::nullopt);
            const auto number = static_cast<std::uint8_t>(m_dlg->GetBlockCounter() & 0x3F);
            const std::uint8_t request[] = {
                kInFrameHeader0, kInFrameHeader1, kBlockRequest, 0x00, number, 0x00};
            Deliver(request, m_dlg->GetSentBytes(), Writes().size(), number);
        }
    }

    // One read on the line; `requested` is the block number asked for, when
    // the read is known to hold exactly one block request.
    void Deliver(std::span<const std::uint8_t> chunk, std::uint32_t sentBefore,
                 std::size_t writesBefore, std::optional<std::uint8_t> requested) {
        const std::uint32_t counterBefore = m_dlg->GetBlockCounter();
        const std::uint32_t repeatedBefore = m_dlg->GetRepeatedRequests();
        direct::Read(*m_device, chunk.data(), chunk.size());
        const std::uint32_t sent = m_dlg->GetSentBytes();
        const std::uint32_t counter = m_dlg->GetBlockCounter();
        const std::uint32_t repeated = m_dlg->GetRepeatedRequests();
        const std::size_t written = Writes().size() - writesBefore;
        if (m_info.protocol == ProtocolKind::FramedProtocol) {
            CHECK(written <= 1);  // at most one hand-over per read, one frame per hand-over
            if (written == 1) {
                const Bytes& frame = Writes().back();
                CheckBlockFrame(frame);
                if (requested) {
                    CHECK(frame[2] == *requested);
                }
                // The next block moves the counter on; any other number gets
                // the last block again and counts as a repeated request.
                if (counter == counterBefore + 1) {
                    CHECK(frame[2] == (counterBefore & 0x3F));
                    CHECK(repeated == repeatedBefore);
                } else {
                    CHECK(counter == counterBefore);
                    CHECK(frame[2] != (counterBefore & 0x3F));
                    CHECK(repeated == repeatedBefore + (counterBefore > 0 ? 1 : 0));
                }
                CHECK(sent == std::min<std::uint64_t>(std::uint64_t{counter} * kBlockSize,
                                                      m_dlg->GetImageLength()));
                m_lengthAtLastSend = m_dlg->GetImageLength();
            } else {
                CHECK(sent == sentBefore);
                CHECK(counter == counterBefore);
                CHECK(repeated == repeatedBefore);
            }
            CHECK(sent <= m_lengthAtLastSend);
        } else {
            CHECK(counter == 0);  // blocks are counted by the block protocol only
            CHECK(repeated == 0);
            CHECK(sent >= sentBefore);
            const std::uint32_t delta = sent - sentBefore;
            if (delta > 0) {
                CHECK(delta <= kBlockSize);
                CHECK(written == 1);
                const Bytes& block = Writes().back();
                CHECK(block.size() == delta);
                for (std::size_t i = 0; i < block.size(); ++i) {
                    if (sentBefore + i < m_image.size()) {
                        CHECK(block[i] == m_image[sentBefore + i]);
                    }
                }
            } else if (written == 1) {
                CHECK(Writes().back() == Bytes{'6'});
            } else if (written == 2) {
                const std::uint32_t length = m_dlg->GetImageLength();
                CHECK(Writes()[writesBefore] == Bytes{std::uint8_t(length >> 8)});
                CHECK(Writes()[writesBefore + 1] == Bytes{std::uint8_t(length)});
            } else {
                CHECK(written == 0);
            }
        }
        CHECK(sent <= kMaxSentBytes);
    }

    // Header, length byte and checksum; returns the payload size.
    static std::size_t CheckFrameShape(const Bytes& frame) {
        CHECK(frame.size() >= 5);
        CHECK(frame[0] == 0xCC && frame[1] == 0xDD);
        const std::size_t n = static_cast<std::uint8_t>(frame[3] + 1);
        CHECK(frame.size() == n + 5);
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < 4 + n; ++i) {
            sum = static_cast<std::uint8_t>(sum + frame[i]);
        }
        CHECK(frame[4 + n] == sum);
        return n;
    }

    // A block frame: the image bytes of the block the counter now points at.
    void CheckBlockFrame(const Bytes& frame) {
        const std::size_t n = CheckFrameShape(frame);
        const std::uint32_t counter = m_dlg->GetBlockCounter();
        std::size_t offset = 0, count = 0;
        if (counter > 0) {
            offset = std::size_t{counter - 1} * kBlockSize;
            if (offset < m_image.size()) {
                count = std::min<std::size_t>(kBlockSize, m_image.size() - offset);
            }
        }
        CHECK(n == count);
        if (n > 0) {
            CHECK(std::equal(frame.begin() + 4, frame.begin() + 4 + static_cast<std::ptrdiff_t>(n),
                             m_image.begin() + static_cast<std::ptrdiff_t>(offset)));
        }
    }

    // Scan steps write the opening request and nothing else.
    void CheckScanWrites(std::size_t from) {
        for (std::size_t i = from; i < Writes().size(); ++i) {
            const Bytes& w = Writes()[i];
            if (m_info.protocol == ProtocolKind::CharProtocol) {
                CHECK(w == Bytes{'0'});
                continue;
            }
            CHECK(CheckFrameShape(w) == kAccessStringLength + 1);
            CHECK(w[2] == 0x80);
            CHECK(std::equal(w.begin() + 4, w.begin() + 4 + kAccessStringLength,
                             reinterpret_cast<const std::uint8_t*>(m_info.accessString)));
            CHECK(w[4 + kAccessStringLength] == 0);
        }
    }

    void CheckWindow() {
        CHECK(m_dlg->GetSentBytes() <= kMaxSentBytes);
        CHECK(StatusTexts().count(m_dlg->GetDlgItemText(IDC_STATUS)) == 1);
        CHECK(m_dlg->GetDlgItemText(IDC_LENGTH) == std::to_string(m_dlg->GetImageLength()));
    }

    MachineType m_type;
    const MachineTypeInfo& m_info;
    CDownloadDlg* m_dlg = nullptr;          // in g_dialogStorage
    direct::Device* m_device = nullptr;     // the machine's end of "COM1"
    std::span<const std::uint8_t> m_image;  // what the dialog should hold
    std::uint32_t m_lengthAtLastSend = 0;   // image length when the sent count was last set
};

void ResetWorld() {
    headless::Reset();
    headless::ClearMessageBoxes();
    direct::DetachAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    Input in(data, size);
    const auto type = static_cast<MachineType>(in.Byte() % 3);
    const std::uint8_t hi = in.Byte();
    const std::uint8_t lo = in.Byte();
    const std::uint32_t raw = (std::uint32_t{hi & 0x7Fu} << 8) | lo;
    const std::uint32_t length =
        (hi & 0x80) != 0 ? static_cast<std::uint32_t>(std::uint64_t{raw} * kImageCapacity / 0x7FFF)
                         : raw;
    const std::uint8_t seed = in.Byte();

    ResetWorld();
    {
        Session session(type);
        session.Start(length, seed);
        while (!in.Empty()) {
            session.Step(in);
        }
    }
    ResetWorld();
    return 0;
}
