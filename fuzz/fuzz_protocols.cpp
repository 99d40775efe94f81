// Fuzzes the two download protocols end to end: a real CDownloadDlg on the
// headless framework, with the input playing the machine on an in-memory
// "COM1".
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
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "framework/headless/headless.h"
#include "image/machine_types.h"
#include "image/unscramble.h"
#include "serial/memory/memory_line.h"
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

constexpr std::uint32_t kMaxSentBytes = kImageCapacity + kBlockSize;

// The input, read front to back; reads past the end give 0.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_pos >= m_size; }
    std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    Bytes Take(std::size_t n) {
        n = std::min(n, m_size - m_pos);
        Bytes b(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return b;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// The machine's end of the line: answers nothing by itself and keeps every
// write the host made.
class Machine : public memory::Peer {
  public:
    void OnHostBytes(memory::Line&, const std::uint8_t* bytes, std::size_t n) override {
        writes.emplace_back(bytes, bytes + n);
    }
    std::vector<Bytes> writes;
};

Bytes MakeImage(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

// Where Load File finds the image. The file lives only for the length of
// one Load File, so nothing is left behind however the process ends.
const std::filesystem::path& ImageFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("fuzz-protocols-" + std::to_string(std::random_device{}()) + ".bin");
    return path;
}

const std::unordered_set<std::string>& StatusTexts() {
    static const std::unordered_set<std::string> texts = [] {
        std::unordered_set<std::string> t = {kStatusIdle, kStatusOpenFile};
        for (const std::string& name : DefaultPortList()) {
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

// One download session: the dialog, the line and the image it should send.
class Session {
  public:
    explicit Session(MachineType type) : m_type(type), m_info(*FindMachineType(type)) {
        m_dlg = std::make_unique<CDownloadDlg>();
        App().m_pMainWnd = m_dlg.get();
        CHECK(m_dlg->Create());
    }

    ~Session() {
        m_dlg.reset();
        App().m_pMainWnd = nullptr;
        CHECK(memory::LiveWorkerCount() == 0);
        CHECK(memory::OpenPortCount() == 0);
    }

    void Start(std::uint32_t length, std::uint8_t seed) {
        if (m_type != 0) {
            // The machine type box opens only after a scan that found nothing.
            Load(Bytes(10));
            CHECK(headless::Click(*m_dlg, IDC_PROGRAM));
            SetPortList({"NOWHERE"});
            headless::Advance(2000);
            SetPortList(DefaultPortList());
            CHECK(headless::SelectComboItem(*m_dlg, IDC_MACHINE_TYPE, m_type));
            CHECK(m_dlg->GetMachineType() == m_type);
        }
        m_line = &memory::AttachDevice("COM1", &m_machine);
        Load(MakeImage(length, seed));
        CHECK(headless::Click(*m_dlg, IDC_PROGRAM));
        m_lengthAtLastSend = m_dlg->GetImageLength();
        headless::Advance(1000);
        CHECK(m_dlg->GetDlgItemText(IDC_STATUS) == std::string("COM1") + kStatusOpenSuccess);
        CHECK(m_machine.writes.size() == 1);
        CheckScanWrites(0);
    }

    void Step(Input& in) {
        const std::uint8_t v = in.Byte();
        const std::uint32_t sentBefore = m_dlg->GetSentBytes();
        const std::size_t writesBefore = m_machine.writes.size();
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
            Load(MakeImage(m_image.size() * fraction / 256, seed));
            CHECK(m_dlg->GetSentBytes() == sentBefore);
            CHECK(m_machine.writes.size() == writesBefore);
        } else if (v < 0xFE) {
            if (headless::Click(*m_dlg, IDC_PROGRAM)) {
                CHECK(m_dlg->GetSentBytes() == 0);
                CHECK(m_dlg->GetBlockCounter() == 0);
                m_lengthAtLastSend = m_dlg->GetImageLength();
            } else {
                CHECK(m_dlg->GetSentBytes() == sentBefore);
            }
            CHECK(m_machine.writes.size() == writesBefore);
        } else {
            NextReply(sentBefore, writesBefore);
        }
        CheckWindow();
    }

  private:
    void Load(Bytes image) {
        // Stored as the selected machine type keeps its files.
        Bytes stored = image;
        if (FindMachineType(m_dlg->GetMachineType())->unscrambleOnLoad) {
            Scramble(stored.data(), stored.size());
        }
        const std::string path = ImageFile().string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        CHECK(f != nullptr);
        CHECK(std::fwrite(stored.data(), 1, stored.size(), f) == stored.size());
        CHECK(std::fclose(f) == 0);
        headless::ScriptFileDialog([path](const CFileDialog&) { return path; });
        CHECK(headless::Click(*m_dlg, IDC_LOAD_FILE));
        std::filesystem::remove(ImageFile());
        CHECK(m_dlg->GetImageLength() == image.size());
        CHECK(std::equal(image.begin(), image.end(), m_dlg->GetImage()));
        m_image = std::move(image);
    }

    // What a machine that follows the protocol would send next.
    void NextReply(std::uint32_t sentBefore, std::size_t writesBefore) {
        if (m_info.protocol == ProtocolKind::CharProtocol) {
            std::string reply;
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
            Deliver(Bytes(reply.begin(), reply.end()), sentBefore, writesBefore, std::nullopt);
        } else {
            // The receive worker's hunt state carries over from earlier reads,
            // so a request could land inside a frame begun before. A read of
            // four zeros brings the hunt back to its start from any state
            // (it may complete that frame, which is checked as any read).
            Deliver(Bytes(4, 0x00), sentBefore, writesBefore, std::nullopt);
            const auto number = static_cast<std::uint8_t>(m_dlg->GetBlockCounter() & 0x3F);
            Deliver({0x33, 0xBB, 0x80, 0x00, number, 0x00}, m_dlg->GetSentBytes(),
                    m_machine.writes.size(), number);
        }
    }

    // One read on the line; `requested` is the block number asked for, when
    // the read is known to hold exactly one block request.
    void Deliver(Bytes chunk, std::uint32_t sentBefore, std::size_t writesBefore,
                 std::optional<std::uint8_t> requested) {
        m_line->Deliver(std::move(chunk));
        headless::RunUntilIdle();
        const std::uint32_t sent = m_dlg->GetSentBytes();
        const std::size_t written = m_machine.writes.size() - writesBefore;
        if (m_info.protocol == ProtocolKind::FramedProtocol) {
            CHECK(written <= 1);  // at most one hand-over per read, one frame per hand-over
            if (written == 1) {
                const Bytes& frame = m_machine.writes.back();
                CheckBlockFrame(frame);
                if (requested) {
                    CHECK(frame[2] == *requested);
                }
                m_lengthAtLastSend = m_dlg->GetImageLength();
            } else {
                CHECK(sent == sentBefore);
            }
            CHECK(sent <= m_lengthAtLastSend);
        } else {
            CHECK(sent >= sentBefore);
            const std::uint32_t delta = sent - sentBefore;
            if (delta > 0) {
                CHECK(delta <= kBlockSize);
                CHECK(written == 1);
                const Bytes& block = m_machine.writes.back();
                CHECK(block.size() == delta);
                for (std::size_t i = 0; i < block.size(); ++i) {
                    if (sentBefore + i < m_image.size()) {
                        CHECK(block[i] == m_image[sentBefore + i]);
                    }
                }
            } else if (written == 1) {
                CHECK(m_machine.writes.back() == Bytes{'6'});
            } else if (written == 2) {
                const std::uint32_t length = m_dlg->GetImageLength();
                CHECK(m_machine.writes[writesBefore] == Bytes{std::uint8_t(length >> 8)});
                CHECK(m_machine.writes[writesBefore + 1] == Bytes{std::uint8_t(length)});
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
        for (std::size_t i = from; i < m_machine.writes.size(); ++i) {
            const Bytes& w = m_machine.writes[i];
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
    Machine m_machine;  // outlives the dialog: closing its port still reports here
    std::unique_ptr<CDownloadDlg> m_dlg;
    memory::Line* m_line = nullptr;
    Bytes m_image;                         // what the dialog should hold
    std::uint32_t m_lengthAtLastSend = 0;  // image length when the sent count was last set
};

void ResetWorld() {
    headless::Reset();
    headless::ClearMessageBoxes();
    memory::DetachAll();
    SetPortList(DefaultPortList());
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
