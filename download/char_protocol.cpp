// The character protocol (machine type 0, 9600 baud).
//
// The machine drives it with short ASCII replies, of which only the first
// and the last character count; the host answers with raw bytes:
//   M "0"            H the image length, high byte then low byte, as two
//                      writes (16 bits: 131072 goes out as 00 00)
//   M "1"            H image bytes 0 to 127, always a full 128
//   M "2".."3"       H the next block, up to 128 bytes
//   M "2".."4"       H "6"          (all received)
//   M "6"            the download has ended
// Replies are matched per read, so "2" and "3" in two reads match nothing.
// Nothing times out once the exchange has begun. The download is done
// when the machine's "6" comes with the whole image sent; a "6" before
// that (a machine that took the length as 16 bits) ends it early, and a
// write the port does not take ends it at once.
#include <cstdint>

#include "serial/receive_worker.h"
#include "ui/download_dlg.h"

namespace {
constexpr std::uint8_t kLengthRequest = '0';
constexpr std::uint8_t kFirstBlockRequest = '1';
constexpr std::uint8_t kReplyLead = '2';
constexpr std::uint8_t kNextBlock = '3';
constexpr std::uint8_t kAllReceived = '4';
constexpr std::uint8_t kFinish = '6';
// What a write carries, when the port does not take it.
constexpr char kLengthWhat[] = "the length";
constexpr char kFinishWhat[] = "the closing 6";
}  // namespace

void CDownloadDlg::OnRxDataChar(const RxMessage& message, WorkerParams& params) {
    if (message.len == 0 || !message.data) {
        return;
    }
    const std::uint8_t first = message.data[0];
    const std::uint8_t last = message.data[message.len - 1];
    std::uint8_t block[kBlockSize];

    switch (m_charState) {
        case CharState::AwaitStart:
            if (first == kLengthRequest) {
                // 16 bits: an image of 65536 bytes or more is announced as
                // its length mod 65536.
                const std::uint8_t high = static_cast<std::uint8_t>((m_imageLength >> 8) & 0xFF);
                const std::uint8_t low = static_cast<std::uint8_t>(m_imageLength & 0xFF);
                if (WriteOrEnd(params, &high, 1, kLengthWhat, m_sentBytes)) {
                    WriteOrEnd(params, &low, 1, kLengthWhat, m_sentBytes);
                }
            } else if (first == kFirstBlockRequest) {
                // Always 128 bytes, even from a shorter image, and no progress
                // update for it.
                const std::uint32_t offset = m_sentBytes;
                CopyFromImage(block, offset, kBlockSize);
                m_sentBytes += kBlockSize;
                if (!WriteOrEnd(params, block, kBlockSize, BlockName(offset), offset)) {
                    return;
                }
                ShowSentBytes();
                m_charState = CharState::Sending;
            }
            break;

        case CharState::Sending:
            if (first == kReplyLead && last == kNextBlock) {
                std::uint32_t count = 0;
                if (m_sentBytes + kBlockSize < m_imageLength) {
                    count = kBlockSize;
                } else if (m_sentBytes <= m_imageLength) {
                    count = (m_imageLength - m_sentBytes) % 256;
                }  // else: already past the end, nothing is left to send
                const std::uint32_t offset = m_sentBytes;
                CopyFromImage(block, offset, count);
                m_sentBytes += count;
                ShowSentBytes();
                ShowProgress();
                WriteOrEnd(params, block, count, BlockName(offset), offset);
            } else if (first == kReplyLead && last == kAllReceived) {
                if (WriteOrEnd(params, &kFinish, 1, kFinishWhat, m_sentBytes)) {
                    m_charState = CharState::AwaitFinish;
                }
            }
            break;

        case CharState::AwaitFinish:
            if (first == kFinish) {
                m_charState = CharState::AwaitStart;
                // The machine closes the exchange when it has all it was
                // told of. Told a length that wrapped at 16 bits, it closes
                // it early: that is no finished download.
                if (m_sentBytes >= m_imageLength) {
                    EndWhenDrained(params, kFinishWhat, m_sentBytes);
                } else {
                    EndDownload(params, DownloadEnd::EndedEarly);
                }
            }
            break;
    }
}
