// The hand-over rules of the receive worker: what each read becomes.
//
// Raw machines (the character protocol): every read of 1 to 255 bytes
// becomes exactly one RxMessage holding those bytes, whatever they are.
//
// Framed machines: the bytes are walked for inbound frames (in_frame.h),
// and a read yields at most one RxMessage: the last frame completed in it.
// The hunt state carries over from read to read, so a frame split over two
// reads is still found, with the header fields parsed in either read. A frame
// whose data runs past the end of the read that completes its header is
// delivered with the data bytes that read holds (len says how many); the
// rest of its bytes are hunted through as noise. Each byte is walked once,
// and nothing is read outside the bytes received.
//
// Machine types above 2 yield nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/machine_types.h"
#include "serial/in_frame.h"
#include "serial/rx_message.h"

inline constexpr std::size_t kReadSize = 255;  // the worker's receive buffer

class RxDecoder {
  public:
    explicit RxDecoder(MachineType type) : m_type(type) {}

    // One read of n bytes (n <= 255); the message to hand over, if any.
    std::unique_ptr<RxMessage> TakeRead(const std::uint8_t* bytes, std::size_t n);

    int ParserState() const { return m_state; }

  private:
    std::unique_ptr<RxMessage> TakeRaw(const std::uint8_t* bytes, std::size_t n);
    std::unique_ptr<RxMessage> TakeFramed(const std::uint8_t* bytes, std::size_t n);

    MachineType m_type;
    int m_state = 0;  // 0 hunting 0x33, 1 0xBB, 2 command, 3 len, 4 block, 5 data
    std::uint8_t m_cmd = 0, m_len = 0, m_block = 0;  // header of the frame being parsed
};
