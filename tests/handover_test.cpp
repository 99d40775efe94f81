// The headless backend's hand-over from a worker thread to the window's
// thread, run in real time as download-cli runs it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "framework/afxwin.h"
#include "framework/handover.h"
#include "framework/headless/headless.h"
#include "ui/resource.h"

namespace {

constexpr UINT WM_PROBE = WM_USER + 1;

class ProbeDlg : public CDialog {
  public:
    ProbeDlg() : CDialog(IDD_ABOUTBOX) {}
    std::vector<WPARAM> received;

    LRESULT OnProbe(WPARAM wParam, LPARAM) {
        received.push_back(wParam);
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDlg, CDialog)
ON_MESSAGE(WM_PROBE, OnProbe)
END_MESSAGE_MAP()

}  // namespace

// Thousands of hand-overs back to back, as a fast download makes them:
// each one handled once, in order, and reported to its sender as handled.
// A sender let go while its message is still in the window's hands would
// free the message under the handler and count it undelivered.
TEST(HandOverTest, EveryHandOverIsHandledOnceAndReportedHandled) {
    headless::Reset();
    CWinApp app;
    ProbeDlg probe;
    ASSERT_TRUE(probe.Create());
    constexpr int kCount = 5000;
    CHandOver handOver;
    std::atomic<int> refused{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            if (!handOver.Send(&probe, WM_PROBE, static_cast<WPARAM>(i), 0)) {
                ++refused;
            }
        }
        finished = true;
    });
    // The window's thread looks for work without pause, as it does when
    // busy: a hand-over is taken the moment it is queued.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!finished && std::chrono::steady_clock::now() < limit) {
        headless::RunUntilIdle();
    }
    const bool ended = finished.load();
    handOver.Revoke();  // lets a worker still waiting go, should the test fail
    worker.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(refused.load(), 0);
    ASSERT_EQ(probe.received.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(probe.received[static_cast<std::size_t>(i)], static_cast<WPARAM>(i));
    }
    probe.DestroyWindow();
}
