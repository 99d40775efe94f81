// Fuzzes the receive worker's hand-over rules (RxDecoder) with arbitrary
// sequences of reads.
//
// Input: a sequence of reads, each a length byte followed by that many bytes
// (the last read is cut short where the input ends). Every read goes to four
// decoders, one per machine type 0..3, each keeping its own state from read
// to read as a worker's does.
//
// Checked for every read:
//   - raw (type 0): exactly one message, holding the read unchanged;
//   - framed (types 1, 2): at most one message, and exactly the one an
//     independent model of the rules in rx_decoder.h predicts: the last frame
//     completed in the read, its data a run of bytes of that read, never
//     longer than the read; the hunt state after the read matches too;
//   - types 1 and 2 behave alike, since both are framed machines;
//   - type 3: nothing;
//   - every message's data block holds len bytes; all are read, so that
//     AddressSanitizer sees a block shorter than len.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "serial/rx_decoder.h"

namespace {

[[noreturn]] void Fail(const char* what, std::size_t read) {
    std::fprintf(stderr, "fuzz_rx_decoder: %s (read %zu)\n", what, read);
    std::abort();
}

#define CHECK(cond, read)                       \
    do {                                        \
        if (!(cond)) {                          \
            Fail("check failed: " #cond, read); \
        }                                       \
    } while (0)

struct Message {
    std::uint8_t cmd = 0, len = 0, block = 0;
    std::vector<std::uint8_t> data;
};

// The framed hand-over rules, written from their description rather than
// from the decoder: header bytes carry over between reads; a frame whose
// data outruns the read yields what the read holds and the rest is noise;
// a completed frame skips its trailing byte; only the last completed frame
// of a read is handed over.
class FrameModel {
  public:
    std::optional<Message> Read(const std::uint8_t* bytes, std::size_t n) {
        std::optional<Message> last;
        std::size_t i = 0;
        while (i < n) {
            const std::uint8_t b = bytes[i];
            switch (m_phase) {
                case Phase::Sync0:
                    m_phase = b == kInFrameHeader0 ? Phase::Sync1 : Phase::Sync0;
                    ++i;
                    break;
                case Phase::Sync1:
                    m_phase = b == kInFrameHeader1 ? Phase::Cmd : Phase::Sync0;
                    ++i;
                    break;
                case Phase::Cmd:
                    m_cmd = b;
                    m_phase = Phase::Len;
                    ++i;
                    break;
                case Phase::Len:
                    m_len = b;
                    m_phase = Phase::Block;
                    ++i;
                    break;
                case Phase::Block:
                    m_block = b;
                    m_phase = Phase::Data;
                    ++i;
                    break;
                case Phase::Data: {
                    const std::size_t have = n - i;
                    Message m;
                    m.cmd = m_cmd;
                    m.block = m_block;
                    if (have >= m_len) {
                        m.data.assign(bytes + i, bytes + i + m_len);
                        i += std::size_t{m_len} + 1;  // data, then the trailing byte
                    } else {
                        m.data.assign(bytes + i, bytes + n);
                        i = n;
                    }
                    m.len = static_cast<std::uint8_t>(m.data.size());
                    last = std::move(m);
                    m_phase = Phase::Sync0;
                    break;
                }
            }
        }
        return last;
    }
    int State() const { return static_cast<int>(m_phase); }

  private:
    enum class Phase { Sync0 = 0, Sync1 = 1, Cmd = 2, Len = 3, Block = 4, Data = 5 };
    Phase m_phase = Phase::Sync0;
    std::uint8_t m_cmd = 0, m_len = 0, m_block = 0;
};

// Reads every byte of the message's data block and returns a copy.
std::vector<std::uint8_t> Touch(const RxMessage& msg, std::size_t read) {
    CHECK(msg.len == 0 || msg.data != nullptr, read);
    std::vector<std::uint8_t> copy(msg.len);
    for (std::size_t i = 0; i < msg.len; ++i) {
        copy[i] = msg.data[i];
    }
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RxDecoder raw(0), framed1(1), framed2(2), unknown(3);
    FrameModel model;

    std::size_t pos = 0;
    for (std::size_t read = 0; pos < size; ++read) {
        const std::size_t want = data[pos++];
        const std::size_t n = std::min(want, size - pos);  // at most 255 by construction
        // A copy of exactly n bytes, so that reading past the read is caught.
        std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[n == 0 ? 1 : n]);
        std::memcpy(bytes.get(), data + pos, n);
        pos += n;

        // Raw: every read of at least one byte, whole and unchanged.
        if (auto msg = raw.TakeRead(bytes.get(), n)) {
            CHECK(n > 0, read);
            CHECK(msg->len == n, read);
            const auto got = Touch(*msg, read);
            CHECK(std::memcmp(got.data(), bytes.get(), n) == 0, read);
        } else {
            CHECK(n == 0, read);
        }

        // Framed: what the model predicts, the same for both framed types.
        const std::optional<Message> want1 = model.Read(bytes.get(), n);
        auto msg1 = framed1.TakeRead(bytes.get(), n);
        auto msg2 = framed2.TakeRead(bytes.get(), n);
        CHECK((msg1 != nullptr) == want1.has_value(), read);
        CHECK((msg2 != nullptr) == want1.has_value(), read);
        CHECK(framed1.ParserState() == model.State(), read);
        CHECK(framed2.ParserState() == model.State(), read);
        if (want1) {
            for (const RxMessage* m : {msg1.get(), msg2.get()}) {
                CHECK(m->len <= n, read);
                CHECK(m->cmd == want1->cmd, read);
                CHECK(m->block == want1->block, read);
                CHECK(m->len == want1->len, read);
                CHECK(Touch(*m, read) == want1->data, read);
            }
        }

        CHECK(unknown.TakeRead(bytes.get(), n) == nullptr, read);
    }
    return 0;
}
