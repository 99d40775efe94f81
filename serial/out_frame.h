// The outbound frame, host to machine, used by the framed machines for the
// opening request and for every data block.
//
//   offset  size  value
//   0       1     0xCC
//   1       1     0xDD
//   2       1     command: 0x80 opening request, or the block number
//   3       1     (n - 1) mod 256: 0x7F for a 128-byte block, 0xFF for none
//   4       n     payload
//   4 + n   1     checksum: (bytes 2 .. 3 + n) mod 256
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::uint8_t kOutFrameHeader0 = 0xCC;
inline constexpr std::uint8_t kOutFrameHeader1 = 0xDD;
inline constexpr std::uint8_t kOpeningCommand = 0x80;
inline constexpr std::size_t kMaxBlockPayload = 128;
inline constexpr std::size_t kOutFrameOverhead = 5;
inline constexpr std::size_t kMaxOutFrame = kMaxBlockPayload + kOutFrameOverhead;  // 133

// A command byte with its payload right behind it, as BuildFrame reads it.
struct OutRecord {
    std::uint8_t command = 0;
    std::array<std::uint8_t, kMaxBlockPayload> payload{};
};

using OutFrame = std::array<std::uint8_t, kMaxOutFrame>;

// Encodes the command and the first n payload bytes (n <= 128) into out,
// which has room for n + 5 bytes. Returns the frame length, n + 5.
std::size_t BuildFrame(const OutRecord& record, std::uint8_t* out, std::size_t n);
