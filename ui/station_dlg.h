// CStationDlg, the station window: one panel per fixture position, for the
// operators of a production line.
//
// Principles of operation
// -----------------------
// The window shows a Station (station/station.h): each position runs the
// main dialog's own download logic in a dialog nobody sees, and the window
// learns what happened from the station's values, never from a control.
// A timer of 100 ms serves the positions and redraws the panels that
// changed since the last tick, so however fast blocks go out the window
// draws at most ten times a second.
//
// A station set up from a station file opens locked: the operator can
// start and stop, but the settings button is disabled until the settings
// are unlocked from the window's menu, after a confirmation - or, when the
// station file holds a supervisor password, with that password
// (CPasswordDlg). A wrong one is refused after kWrongPasswordMs, counted
// on a timer while the window goes on serving the positions, and no other
// is taken meanwhile. Changed settings are written back to the station
// file, and the window is then built again for them (the application's
// loop: RebuildWanted()).
//
// Every unlock, lock, change of settings (what changed, from what to what)
// and wrong password is an event line in the record file
// (station/event_lines.h), among the units' records. One that cannot be
// written is said in a message; what was done stands.
//
// Stop lets the units under way finish and stops the positions that wait;
// pressed again while units are under way, it asks, then stops them at
// once. Closing the window asks the same when units are under way. Either
// way every position stops and closes its port before the window goes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "station/event_lines.h"
#include "station/station.h"
#include "ui/resource.h"
#include "ui/scan_reader.h"

inline constexpr UINT_PTR TIMER_STATION = 1;   // serves the positions, redraws
inline constexpr UINT_PTR TIMER_NOTICE = 2;    // shows a message once the window is up
inline constexpr UINT_PTR TIMER_PASSWORD = 3;  // refuses a wrong password, once its delay is over
inline constexpr UINT kStationTickMs = 100;
// How long a wrong password waits before it is refused: each guess costs
// that, while the window goes on.
inline constexpr UINT kWrongPasswordMs = 2000;

class CStationDlg : public CDialog, private StationEvents {
  public:
    // filePath: the station file the settings came from (empty: none yet);
    // locked: opened from that file, settings not to be changed.
    CStationDlg(const StationSettings& settings, std::string filePath, bool locked,
                CWnd* pParent = nullptr);
    ~CStationDlg() override;  // stops every position at once, closing its port

    // Start the positions as soon as the window is up, as Start would.
    void SetStartAtOnce(bool start) { m_startAtOnce = start; }

    // After the window ended: whether it ended to be built again for new
    // settings, and what they are.
    bool RebuildWanted() const { return m_rebuild; }
    const StationSettings& NextSettings() const { return m_settings; }
    const std::string& NextFilePath() const { return m_filePath; }
    // A station kept in a station file opens locked again after its
    // settings changed: an unlock is for one change, not for good.
    bool NextLocked() const { return m_locked || !m_filePath.empty(); }

    // For tests and front ends: what the window shows, as values.
    const Station* GetStation() const { return m_station.get(); }
    bool IsLocked() const { return m_locked; }
    // How late the timer ran, in ms, at the 99th percentile and at most,
    // over the ticks so far.
    std::uint32_t LatenessP99() const;
    std::uint32_t LatenessMax() const { return m_latenessMax; }
    std::uint32_t Ticks() const { return m_ticks; }

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;      // Enter does not close the station
    void OnCancel() override;  // the close box, Escape, Exit
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    void OnStart();
    void OnStop();
    void OnSettings();

    DECLARE_MESSAGE_MAP()

  private:
    // The window ends with this to be built again for changed settings.
    static constexpr int kRebuild = 100;

    // StationEvents
    void PositionChanged(std::size_t index) override;
    void RunningChanged(bool running) override;
    void RecordFailed(const std::string& message) override;
    void LimitReached() override;
    void SerialsUsedUp() override;

    // Redraws what changed since it was last shown.
    void ShowChanged();
    void ShowHeader();
    void ShowRecordFile();
    // The scanner's line, at Enter in the scan field.
    void TakeScan();
    void ShowPanel(std::size_t index);
    void ShowTotals();
    void ShowButtons();
    void ShowNotices();
    void NoteLateness(std::uint64_t now);
    // Ends the window once every position has stopped; stops them first.
    void CloseWhenStopped(bool atOnce);
    // Unlocking with the supervisor's password, which the station file
    // holds: asks for it, and unlocks or refuses.
    void AskPassword();
    void SetLocked(bool locked);
    // Appends an event line to the record file; a message when it cannot.
    void RecordEvent(const char* event, std::vector<EventDetail> details = {});

    StationSettings m_settings;
    std::string m_filePath;
    bool m_locked;
    bool m_startAtOnce = false;
    bool m_rebuild = false;

    LoadedImage m_image;
    bool m_ready = false;  // image and record file fine: Start may be pressed
    std::unique_ptr<Station> m_station;
    std::vector<bool> m_dirty;  // panels to redraw at the next tick
    bool m_totalsDirty = true;
    int m_shownUnreadable = 0;  // record lines said to be unreadable
    ScanReader m_scan;
    bool m_buttonsDirty = true;
    std::vector<std::string> m_notices;  // messages to show at the next tick
    bool m_showingNotice = false;
    bool m_closing = false;   // ends once every position has stopped
    bool m_refusing = false;  // a wrong password waits for its refusal

    std::uint64_t m_lastTick = 0;
    std::array<std::uint32_t, 1001> m_lateness{};  // ticks by ms late; the last bin is 1 s or more
    std::uint32_t m_latenessMax = 0;
    std::uint32_t m_ticks = 0;
    HICON m_hIcon = nullptr;
};
