// The hand-over rules of the receive worker.
#include "serial/rx_decoder.h"

#include <algorithm>

std::unique_ptr<RxMessage> RxDecoder::TakeRead(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0 || bytes == nullptr) {
        return nullptr;
    }
    n = std::min(n, kReadSize);
    const MachineTypeInfo* info = FindMachineType(m_type);
    if (info == nullptr) {
        return nullptr;
    }
    return info->protocol == ProtocolKind::CharProtocol ? TakeRaw(bytes, n) : TakeFramed(bytes, n);
}

std::unique_ptr<RxMessage> RxDecoder::TakeRaw(const std::uint8_t* bytes, std::size_t n) {
    auto msg = std::make_unique<RxMessage>();
    msg->len = static_cast<std::uint8_t>(n);
    msg->data = std::make_unique<std::uint8_t[]>(n);
    std::copy_n(bytes, n, msg->data.get());
    return msg;
}

std::unique_ptr<RxMessage> RxDecoder::TakeFramed(const std::uint8_t* bytes, std::size_t n) {
    std::unique_ptr<RxMessage> done;  // the last frame completed in this read
    for (std::size_t p = 0; p < n; ++p) {
        const std::uint8_t b = bytes[p];
        switch (m_state) {
            case 0:
                m_state = b == kInFrameHeader0 ? 1 : 0;
                break;
            case 1:
                // A second 0x33 here also starts the hunt over.
                m_state = b == kInFrameHeader1 ? 2 : 0;
                break;
            case 2:
                m_cmd = b;
                m_state = 3;
                break;
            case 3:
                m_len = b;
                m_state = 4;
                break;
            case 4:
                m_block = b;
                m_state = 5;
                break;
            case 5: {
                // b is the first data byte, or the trailing byte when len is 0.
                const std::size_t take = std::min<std::size_t>(m_len, n - p);
                auto msg = std::make_unique<RxMessage>();
                msg->cmd = m_cmd;
                msg->len = static_cast<std::uint8_t>(take);
                msg->block = m_block;
                msg->data = std::make_unique<std::uint8_t[]>(take);
                std::copy_n(bytes + p, take, msg->data.get());
                done = std::move(msg);  // a frame completed earlier in this read is dropped
                m_state = 0;
                // Past the data; the loop's step then skips the trailing byte.
                p += take;
                if (take < m_len) {
                    p = n;  // the data ran out with the read
                }
                break;
            }
            default:
                m_state = 0;
                break;
        }
    }
    return done;
}
