// Micro-benchmarks of the byte codecs on the serial path: the outbound frame
// encoder, and the receive worker's hand-over rules for framed and raw
// reads. At 57600 baud a line carries about 5.8 kB/s, so these figures say
// how much headroom the codecs leave, not whether the line keeps up.
//
//   codec_bench [--benchmark_filter=...]   (build with -DDT_BENCH=ON)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "serial/out_frame.h"
#include "serial/rx_decoder.h"

namespace {

std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> b(n);
    for (auto& v : b) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(seed >> 16);
        if (v == kInFrameHeader0) {
            v = 0;  // noise must not start a frame of its own
        }
    }
    return b;
}

// One data block per frame, as the block protocol sends them.
void BM_BuildFrame(benchmark::State& state) {
    const auto payload = Noise(kMaxBlockPayload, 7);
    OutRecord record;
    record.command = 0x05;
    std::copy(payload.begin(), payload.end(), record.payload.begin());
    OutFrame frame{};
    for (auto _ : state) {
        const std::size_t length = BuildFrame(record, frame.data(), kMaxBlockPayload);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
        record.command = static_cast<std::uint8_t>((record.command + 1) & 0x3F);
    }
    state.SetItemsProcessed(state.iterations());  // frames
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kMaxBlockPayload));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildFrame);

// The hand-over rules on one whole read, over and over; figures per read
// and per byte.
void TimeTakeRead(benchmark::State& state, RxDecoder& decoder,
                  const std::vector<std::uint8_t>& read) {
    for (auto _ : state) {
        auto msg = decoder.TakeRead(read.data(), read.size());
        benchmark::DoNotOptimize(msg.get());
    }
    state.SetItemsProcessed(state.iterations());  // reads
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(read.size()));
}

// A full 255-byte read: frames carrying `dataLen` data bytes each, every one
// behind two bytes of noise, and noise to the end of the read.
void BM_RxDecoderFramed(benchmark::State& state) {
    const auto dataLen = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> read;
    std::size_t frames = 0;
    std::uint32_t seed = 1;
    while (read.size() + 2 + 6 + dataLen <= kReadSize) {
        const auto noise = Noise(2, seed++);
        read.insert(read.end(), noise.begin(), noise.end());
        const auto data = Noise(dataLen, seed++);
        read.insert(read.end(),
                    {kInFrameHeader0, kInFrameHeader1, kBlockRequest,
                     static_cast<std::uint8_t>(dataLen), static_cast<std::uint8_t>(frames & 0x3F)});
        read.insert(read.end(), data.begin(), data.end());
        read.push_back(0x00);  // the trailing byte
        ++frames;
    }
    const auto tail = Noise(kReadSize - read.size(), seed);
    read.insert(read.end(), tail.begin(), tail.end());

    RxDecoder decoder(1);
    TimeTakeRead(state, decoder, read);
    state.counters["frames/read"] = static_cast<double>(frames);
}
BENCHMARK(BM_RxDecoderFramed)->Arg(0)->Arg(16)->Arg(128);

// Raw reads of the character protocol: a short reply, and a full read.
void BM_RxDecoderRaw(benchmark::State& state) {
    const auto read = Noise(static_cast<std::size_t>(state.range(0)), 3);
    RxDecoder decoder(0);
    TimeTakeRead(state, decoder, read);
}
BENCHMARK(BM_RxDecoderRaw)->Arg(2)->Arg(255);

}  // namespace

BENCHMARK_MAIN();
