// The outbound frame encoder.
#include "serial/out_frame.h"

#include <algorithm>

std::size_t BuildFrame(const OutRecord& record, std::uint8_t* out, std::size_t n) {
    n = std::min(n, kMaxBlockPayload);
    out[0] = kOutFrameHeader0;
    out[1] = kOutFrameHeader1;
    out[2] = record.command;
    out[3] = static_cast<std::uint8_t>(n - 1);  // wraps to 0xFF for an empty payload
    std::copy_n(record.payload.begin(), n, out + 4);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < 4 + n; ++i) {
        sum = static_cast<std::uint8_t>(sum + out[i]);
    }
    out[4 + n] = sum;
    return n + kOutFrameOverhead;
}
