// What the window shows as blocks go out, and the end of a download.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "serial/receive_worker.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

// Called whenever a block has gone out (or is about to, in the same handler).
void CDownloadDlg::ShowSentBytes() {
    SetDlgItemInt(IDC_SEND_LENGTH, m_sentBytes, FALSE);
    m_pEvents->BlockSent(m_sentBytes, m_imageLength, m_repeatedRequests);
}

void CDownloadDlg::ShowProgress() {
    CWnd* progress = GetDlgItem(IDC_PROGRESS);
    progress->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, (m_imageLength >> 2) & 0xFFFF));
    progress->SendMessage(PBM_SETPOS, m_sentBytes >> 2);

    // An empty image has nothing left to send: 100 %. Past the end (an image
    // shorter than the first block, or a shorter image loaded mid-download)
    // the figure stops at 100 %.
    unsigned percent = 100;
    if (m_imageLength != 0) {
        percent = static_cast<unsigned>(
            std::min<std::uint64_t>(std::uint64_t{m_sentBytes} * 100 / m_imageLength, 100));
    }
    char text[64];
    std::snprintf(text, sizeof text, kStatusProgressFormat, percent);
    SetDlgItemText(IDC_STATUS, text);
}

void CDownloadDlg::CopyFromImage(std::uint8_t* out, std::uint64_t offset, std::size_t count) const {
    std::memset(out, 0, count);
    if (offset >= kImageCapacity) {
        return;
    }
    const std::size_t inside = std::min<std::uint64_t>(count, kImageCapacity - offset);
    std::memcpy(out, m_image + offset, inside);
}

std::string CDownloadDlg::BlockName(std::uint64_t offset) {
    return "block " + std::to_string(offset / kBlockSize);
}

// The worker ends as soon as the hand-over we are in returns.
void CDownloadDlg::EndDownload(WorkerParams& params, DownloadEnd how) {
    params.run = 0;
    GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE);
    if (how == DownloadEnd::Done || how == DownloadEnd::EndedEarly) {
        GetDlgItem(IDC_MACHINE_TYPE)->EnableWindow(FALSE);
    }
    DownloadEnding ending;
    ending.how = how;
    ending.sent = m_sentBytes;
    ending.total = m_imageLength;
    if (how == DownloadEnd::PortRefused) {
        // Sent means taken by the port: the block it refused is not.
        ending.sent = std::min(m_sentBytes, m_refusedOffset);
        ending.what = m_refusedWhat;
        ending.reason = m_writeError;
    }
    m_pEvents->DownloadEnded(ending);
}

bool CDownloadDlg::WriteOrEnd(WorkerParams& params, const std::uint8_t* bytes, std::size_t n,
                              const std::string& what, std::uint32_t offset) {
    if (WritePort(m_hPort, bytes, n)) {
        return true;
    }
    m_refusedWhat = what;
    m_writeError = LastWriteError();
    m_refusedOffset = offset;
    EndDownload(params, DownloadEnd::PortRefused);
    return false;
}

// The driver has taken every byte; done only once they have left it for
// the line, since closing a port drops what it still holds.
void CDownloadDlg::EndWhenDrained(WorkerParams& params, const std::string& lastBlock,
                                  std::uint32_t offset) {
    if (DrainPort(m_hPort)) {
        EndDownload(params, DownloadEnd::Done);
        return;
    }
    m_refusedOffset = offset;
    m_refusedWhat = lastBlock;
    m_writeError = LastWriteError();
    EndDownload(params, DownloadEnd::PortRefused);
}
