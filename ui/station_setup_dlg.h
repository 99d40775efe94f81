// CStationSetupDlg: what a station programs and where, set up by hand -
// the machine type, the image, the ports of the positions, the record file
// and the silence timeout - and saved as a station file.
//
// OK takes the settings when they are whole (at least one port, no port
// twice however it is spelt, an image that can be read); the ports are
// kept as written, and the station opens them by their normal form
// (serial/port_names.h). The image's SHA-256 becomes the one the station
// expects; changing one that was pinned asks first, showing both. Save As writes them to a station
// file of the operator's choosing, which the station then keeps them in.
// What the dialog does not show (the limit, the supervisor's password) is
// kept as it was.
#pragma once

#include <string>

#include "framework/afxwin.h"
#include "station/station_file.h"
#include "ui/resource.h"

class CStationSetupDlg : public CDialog {
  public:
    explicit CStationSetupDlg(const StationSettings& settings, CWnd* pParent = nullptr);

    // The folder a name without one is taken from: the station file's, or
    // the working folder when empty. What OK takes is named whole.
    void SetFolder(const std::string& folder) { m_folder = folder; }

    const StationSettings& Settings() const { return m_settings; }
    // The station file Save As wrote, if it did.
    const std::string& SavedPath() const { return m_savedPath; }

    // Reads the fields into settings; false, with the reason, when they do
    // not make a station (no reason when the operator would not pin
    // another image).
    bool Collect(StationSettings& settings, std::string& error);

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnBrowseImage();
    void OnBrowseRecord();
    void OnSaveAs();

    DECLARE_MESSAGE_MAP()

  private:
    // Reads the image named in its field and shows its SHA-256.
    void ShowImageHash();

    StationSettings m_settings;
    std::string m_folder;
    std::string m_savedPath;
};
