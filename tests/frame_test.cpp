// The outbound frame encoder and the receive worker's hand-over rules.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "serial/out_frame.h"
#include "serial/rx_decoder.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Encode(std::uint8_t command, const Bytes& payload) {
    OutRecord record;
    record.command = command;
    std::copy(payload.begin(), payload.end(), record.payload.begin());
    OutFrame frame;
    const std::size_t n = BuildFrame(record, frame.data(), payload.size());
    return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

TEST(OutFrame, EncodesHeaderLengthPayloadAndChecksum) {
    struct Case {
        std::uint8_t command;
        Bytes payload;
        Bytes expected;
    };
    const Bytes full(128, 0xFF);
    Bytes fullFrame(133, 0xFF);
    fullFrame[0] = 0xCC;
    fullFrame[1] = 0xDD;
    fullFrame[2] = 0x3F;
    fullFrame[3] = 0x7F;
    fullFrame[132] = 0x3E;  // (0x3F + 0x7F + 128 * 0xFF) mod 256
    const Case cases[] = {
        {0x05, {'a', 'b', 'c'}, {0xCC, 0xDD, 0x05, 0x02, 0x61, 0x62, 0x63, 0x2D}},
        {0x10, {}, {0xCC, 0xDD, 0x10, 0xFF, 0x0F}},  // empty: length byte 0xFF
        {0x3F, full, fullFrame},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.command, c.payload), c.expected) << "command " << int(c.command);
    }
}

namespace {

struct Expect {
    std::uint8_t cmd, len, block;
    std::string data;
};

// Feeds reads in order and returns what each one handed over.
std::vector<std::optional<Expect>> Feed(MachineType type, const std::vector<Bytes>& reads) {
    RxDecoder decoder(type);
    std::vector<std::optional<Expect>> out;
    for (const Bytes& r : reads) {
        auto msg = decoder.TakeRead(r.data(), r.size());
        if (!msg) {
            out.push_back(std::nullopt);
            continue;
        }
        out.push_back(Expect{msg->cmd, msg->len, msg->block,
                             std::string(msg->data.get(), msg->data.get() + msg->len)});
    }
    return out;
}

void ExpectSame(const std::vector<std::optional<Expect>>& got,
                const std::vector<std::optional<Expect>>& want, const std::string& name) {
    ASSERT_EQ(got.size(), want.size()) << name;
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].has_value(), want[i].has_value()) << name << ", read " << i;
        if (got[i]) {
            EXPECT_EQ(got[i]->cmd, want[i]->cmd) << name << ", read " << i;
            EXPECT_EQ(got[i]->len, want[i]->len) << name << ", read " << i;
            EXPECT_EQ(got[i]->block, want[i]->block) << name << ", read " << i;
            EXPECT_EQ(got[i]->data, want[i]->data) << name << ", read " << i;
        }
    }
}

}  // namespace

TEST(RxDecoder, FramedReads) {
    struct Case {
        std::string name;
        std::vector<Bytes> reads;
        std::vector<std::optional<Expect>> handed;
    };
    const std::optional<Expect> none;
    const Case cases[] = {
        {"empty request", {{0x33, 0xBB, 0x80, 0x00, 0x05, 0xEE}}, {Expect{0x80, 0, 5, ""}}},
        {"stop with data",
         {{0x33, 0xBB, 0x81, 0x02, 0x00, 'A', 'B', 0x99}},
         {Expect{0x81, 2, 0, "AB"}}},
        {"second 0x33 restarts the hunt", {{0x33, 0x33, 0xBB, 0x80, 0x00, 0x00, 0x00}}, {none}},
        {"leading noise",
         {{0x00, 0xFF, 0x33, 0xBB, 0x80, 0x00, 0x07, 0x00}},
         {Expect{0x80, 0, 7, ""}}},
        {"two frames in one read: the second",
         {{0x33, 0xBB, 0x80, 0x00, 0x01, 0x00, 0x33, 0xBB, 0x80, 0x00, 0x02, 0x00}},
         {Expect{0x80, 0, 2, ""}}},
        {"split after 0x33",
         {{0x33}, {0xBB, 0x80, 0x00, 0x03, 0x00}},
         {none, Expect{0x80, 0, 3, ""}}},
        {"split after 0xBB",
         {{0x00, 0x33, 0xBB}, {0x80, 0x00, 0x03, 0x00}},
         {none, Expect{0x80, 0, 3, ""}}},
        // The header fields parsed in the first read are kept for the second.
        {"split after the command",
         {{0x33, 0xBB, 0x80}, {0x00, 0x04, 0x00}},
         {none, Expect{0x80, 0, 4, ""}}},
        {"split after the block number",
         {{0x33, 0xBB, 0x81, 0x01, 0x09}, {'Z', 0x00}},
         {none, Expect{0x81, 1, 9, "Z"}}},
        // A later frame's header does not overwrite the completed frame; it
        // completes in the next read.
        {"completed frame, then part of another",
         {{0x33, 0xBB, 0x80, 0x00, 0x01, 0x00, 0x33, 0xBB, 0x81}, {0x00, 0x09, 0x00}},
         {Expect{0x80, 0, 1, ""}, Expect{0x81, 0, 9, ""}}},
        // Data running past the read: what arrived is delivered, the rest is noise.
        {"data longer than the read",
         {{0x33, 0xBB, 0x80, 0x10, 0x02, 'A', 'B'}, {'C', 'D', 0x33, 0xBB, 0x80, 0x00, 0x03, 0x00}},
         {Expect{0x80, 2, 2, "AB"}, Expect{0x80, 0, 3, ""}}},
        // With no data, the frame completes on its trailing byte, whatever it is.
        {"trailing byte in the next read",
         {{0x33, 0xBB, 0x80, 0x00, 0x05}, {0x33}, {0xBB}},
         {none, Expect{0x80, 0, 5, ""}, none}},
    };
    for (const Case& c : cases) {
        ExpectSame(Feed(1, c.reads), c.handed, c.name);
    }
}

// A length byte that would carry the walk past the end of a full read (and,
// counted in 8 bits, wrap it back to earlier bytes) ends the walk: each byte
// is walked once and the earlier frame is not delivered again.
TEST(RxDecoder, LengthNeverWrapsTheWalk) {
    Bytes read(kReadSize, 0x00);
    const Bytes first = {0x33, 0xBB, 0x80, 0x00, 0x01, 0x00};
    std::copy(first.begin(), first.end(), read.begin());
    const Bytes late = {0x33, 0xBB, 0x80, 0xC8, 0x07};  // 200 data bytes at 205, 50 present
    std::copy(late.begin(), late.end(), read.begin() + 200);
    const auto got = Feed(2, {read, {0x33, 0xBB, 0x80, 0x00, 0x08, 0x00}});
    ExpectSame(got, {Expect{0x80, 50, 7, std::string(50, '\0')}, Expect{0x80, 0, 8, ""}}, "wrap");
}

TEST(RxDecoder, RawReadsAreHandedOverWhole) {
    const auto whole = Feed(0, {{'2', 'a', 'b', 'c', 'd', '3'}});
    ExpectSame(whole, {Expect{0, 6, 0, "2abcd3"}}, "one read");
    const auto split = Feed(0, {{'2', 'a', 'b'}, {'c', 'd', '3'}});
    ExpectSame(split, {Expect{0, 3, 0, "2ab"}, Expect{0, 3, 0, "cd3"}}, "two reads");
}

TEST(RxDecoder, UnknownMachineTypeAndEmptyReadsYieldNothing) {
    const Bytes frame = {0x33, 0xBB, 0x80, 0x00, 0x05, 0x00};
    ExpectSame(Feed(3, {frame, {'1'}}), {std::nullopt, std::nullopt}, "type 3");
    RxDecoder decoder(1);
    EXPECT_EQ(decoder.TakeRead(frame.data(), 0), nullptr);
}
