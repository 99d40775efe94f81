// The block protocol (machine types 1 and 2, 57600 baud).
//
// The machine asks for each block with a 0x80 frame carrying a block number;
// the host answers with one outbound frame whose command byte repeats the
// number and whose payload is the block. A request for the number the
// counter's low six bits show is a request for the next block; any other
// number gets the block last sent again, under the number asked for. The
// host decides the end: once the block holding the last image byte is out,
// the download ends while handling that same request, as done once the
// port's output has drained. A 0x81 frame stops it at any time; a block
// the port does not take ends it at once.
#include <algorithm>

#include "serial/out_frame.h"
#include "serial/receive_worker.h"
#include "serial/rx_decoder.h"
#include "ui/download_dlg.h"

void CDownloadDlg::OnRxDataBlock(const RxMessage& message, WorkerParams& params) {
    if (message.cmd == kBlockRequest) {
        if (!SendBlock(message.block)) {
            EndDownload(params, DownloadEnd::PortRefused);
            return;
        }
    }
    // The whole image is out once a block was sent in this download and
    // the bytes sent reach the length (an empty image: once its empty
    // block went out).
    const bool imageOut = m_blockCounter > 0 && m_sentBytes == m_imageLength;
    if (message.cmd == kStopRequest && !imageOut) {
        // Stopped by the machine: the type box and the status line stay. A
        // stop once the whole image is out ends the download as done, below.
        EndDownload(params, DownloadEnd::StoppedByMachine);
        return;
    }
    if (imageOut) {
        const std::uint64_t last = std::uint64_t{m_blockCounter - 1} * kBlockSize;
        EndWhenDrained(params, BlockName(last), static_cast<std::uint32_t>(last));
    }
}

bool CDownloadDlg::SendBlock(std::uint8_t requested) {
    OutRecord record;
    record.command = requested;
    if (requested == (m_blockCounter & 0x3F)) {
        m_blockCounter += 1;
    } else if (m_blockCounter > 0) {
        m_repeatedRequests += 1;
    }

    // Block k covers bytes (k - 1) * 128 up to k * 128, cut at the image
    // length. A request pointing before the image (a first request not
    // numbered 0) or past its end (a shorter image loaded meanwhile) is
    // answered with an empty block, never with bytes from outside it.
    std::size_t count = 0;
    std::uint64_t offset = 0;
    if (m_blockCounter > 0) {
        offset = std::uint64_t{m_blockCounter - 1} * kBlockSize;
        if (offset < m_imageLength) {
            count = static_cast<std::size_t>(
                std::min<std::uint64_t>(kBlockSize, m_imageLength - offset));
        }
    }
    CopyFromImage(record.payload.data(), offset, count);

    OutFrame frame;
    const std::size_t length = BuildFrame(record, frame.data(), count);
    m_sentBytes = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{m_blockCounter} * kBlockSize, m_imageLength));
    if (!WritePort(m_hPort, frame.data(), length)) {
        m_refusedWhat = BlockName(offset);
        m_writeError = LastWriteError();
        m_refusedOffset =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, m_imageLength));
        return false;
    }
    ShowSentBytes();
    ShowProgress();
    return true;
}
