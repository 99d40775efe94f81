// The inbound frame, machine to host, in which the framed machines answer
// the opening request and ask for each block.
//
//   offset  size  value
//   0       1     0x33
//   1       1     0xBB
//   2       1     command: 0x80 block request, 0x81 stop
//   3       1     len, the number of data bytes
//   4       1     block number, counted modulo 64
//   5       len   data
//   5 + len 1     trailing byte, never examined
//
// A frame is len + 6 bytes long. The receive worker's rules for finding
// frames in its reads are in rx_decoder.h.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint8_t kInFrameHeader0 = 0x33;
inline constexpr std::uint8_t kInFrameHeader1 = 0xBB;
inline constexpr std::uint8_t kBlockRequest = 0x80;
inline constexpr std::uint8_t kStopRequest = 0x81;
inline constexpr std::size_t kInFrameHeaderSize = 5;  // header bytes, command, len, block
inline constexpr std::size_t kInFrameOverhead = 6;    // all but the data

// Whether the bytes hold a whole frame, trailing byte included, anywhere.
constexpr bool HoldsWholeInFrame(const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i + kInFrameHeaderSize <= n; ++i) {
        if (bytes[i] == kInFrameHeader0 && bytes[i + 1] == kInFrameHeader1 &&
            i + kInFrameOverhead + bytes[i + 3] <= n) {
            return true;
        }
    }
    return false;
}
