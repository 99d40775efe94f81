// The machine type table: every difference between the three models of
// target machine, indexed by MachineType (the row of the machine type box).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using MachineType = std::uint8_t;

enum class ProtocolKind : std::uint8_t {
    CharProtocol,    // short ASCII replies, raw blocks (download/char_protocol.cpp)
    FramedProtocol,  // checksummed frames, numbered blocks (download/block_protocol.cpp)
};

struct MachineTypeInfo {
    const char* name;         // as listed in the machine type box
    const char* filePattern;  // file dialog filter and initial name
    ProtocolKind protocol;
    std::uint32_t baudRate;
    std::uint32_t readIntervalTimeout;  // ms of silence that ends a read
    bool unscrambleOnLoad;              // subtract UnscrambleKey while loading
    // Framed machines only: the 8 printable characters that open a session,
    // sent with a terminating zero as the opening frame's 9-byte payload.
    const char* accessString;
};

inline constexpr std::size_t kMachineTypeCount = 3;
inline constexpr std::size_t kAccessStringLength = 8;
inline constexpr std::size_t kUnscrambleKeyLength = 50;
// The most image bytes a machine takes, of every type.
inline constexpr std::size_t kImageCapacity = 0x20000;  // 131072 bytes

extern const std::array<MachineTypeInfo, kMachineTypeCount> kMachineTypes;
extern const std::array<std::uint8_t, kUnscrambleKeyLength> UnscrambleKey;

// The row for a machine type, or null above 2.
const MachineTypeInfo* FindMachineType(MachineType type);
