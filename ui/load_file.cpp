// Load File: reads the image of the selected machine type into m_image.
#include <algorithm>
#include <cstring>

#include "framework/afxdlgs.h"
#include "framework/afxfile.h"
#include "image/unscramble.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

void CDownloadDlg::OnLoadFile() {
    const MachineTypeInfo* info = FindMachineType(m_machineType);
    const char* pattern = info ? info->filePattern : "*.*";

    // The pattern is both the filter and the initial name, so the dialog
    // lists just the files of this machine type.
    CFileDialog dlg(TRUE, nullptr, pattern, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, pattern,
                    nullptr);
    SetDlgItemText(IDC_STATUS, kStatusOpenFile);
    if (dlg.DoModal() != IDOK) {
        return;
    }
    // A file that cannot be opened or read ends the command here with the
    // file layer's message box: the length, the numbers and the controls
    // keep what they showed.
    if (const std::optional<CFileException> error = LoadImageFile(dlg.GetPathName())) {
        error->ReportError();
    }
}

std::optional<CFileException> CDownloadDlg::LoadImageFile(const std::string& path) {
    UINT n = 0;
    try {
        CFile file(path, CFile::modeRead | CFile::typeBinary);
        file.SeekToBegin();
        n = file.Read(m_image, sizeof m_image);  // a longer file is cut, silently
        file.Close();
    } catch (const CFileException& e) {
        // A read that failed part-way may have changed m_image, but not
        // the length or anything shown, as before.
        return e;
    }
    LoadImage(m_image, n);
    return std::nullopt;
}

void CDownloadDlg::LoadImage(const std::uint8_t* bytes, std::size_t n) {
    const MachineTypeInfo* info = FindMachineType(m_machineType);
    n = std::min(n, sizeof m_image);
    if (bytes != m_image) {
        std::memcpy(m_image, bytes, n);
    }
    m_imageLength = static_cast<std::uint32_t>(n);
    SetDlgItemInt(IDC_LENGTH, m_imageLength, FALSE);
    SetDlgItemInt(IDC_SEND_LENGTH, 0, FALSE);

    GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE);
    // The one place the range is not divided by 4; the first progress update
    // of a download sets it again.
    GetDlgItem(IDC_PROGRESS)->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, m_imageLength & 0xFFFF));
    GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE);
    GetDlgItem(IDC_MACHINE_TYPE)->EnableWindow(FALSE);

    if (info && info->unscrambleOnLoad) {
        Unscramble(m_image, m_imageLength);
    }
}

void CDownloadDlg::PatchImage(std::uint32_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (offset >= m_imageLength) {
        return;
    }
    std::memcpy(m_image + offset, bytes, std::min<std::size_t>(n, m_imageLength - offset));
}
