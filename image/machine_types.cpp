// The compiled-in machine type table and the unscramble key.
#include "image/machine_types.h"

const std::array<MachineTypeInfo, kMachineTypeCount> kMachineTypes = {{
    {"Lorvane 300", "*.EUP", ProtocolKind::CharProtocol, 9600, 70, false, nullptr},
    {"Quenta 5X", "*.UPL", ProtocolKind::FramedProtocol, 57600, 20, true, "QNTAUPLD"},
    {"ZT418", "*.UPL", ProtocolKind::FramedProtocol, 57600, 20, true, "ztupload"},
}};

// Shared by the two framed machines. "*.UPL" files hold each image byte i
// as (byte + UnscrambleKey[i mod 50]) mod 256.
const std::array<std::uint8_t, kUnscrambleKeyLength> UnscrambleKey = {
    0x5A, 0x01, 0xC3, 0x7E, 0x12, 0x99, 0x3D, 0xF0, 0x48, 0xA6, 0x0B, 0x6F, 0xD2,
    0x27, 0x84, 0xE9, 0x35, 0x9C, 0x61, 0xBE, 0x0F, 0x73, 0xC8, 0x2A, 0x97, 0xFD,
    0x44, 0xAB, 0x10, 0x6C, 0xD9, 0x3E, 0x82, 0xF5, 0x59, 0xA0, 0x1D, 0x7B, 0xE4,
    0x30, 0x8F, 0xC6, 0x22, 0x95, 0x6A, 0xFF, 0x08, 0xB3, 0x4E, 0xD1,
};

const MachineTypeInfo* FindMachineType(MachineType type) {
    return type < kMachineTypes.size() ? &kMachineTypes[type] : nullptr;
}
