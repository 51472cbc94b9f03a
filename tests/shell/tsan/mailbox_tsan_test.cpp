// The worker's progress reports against the window thread's timer, under
// ThreadSanitizer: they meet only through the mailbox and the cancelled flag.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../fake_main_window.h"

namespace {

struct TickingWindow : FakeMainWindow {
    using FakeMainWindow::FakeMainWindow;
    void Begin() { BeginBusy(); }
};

TEST(ProgressMailbox, ReportsAndTicksRaceFree) {
    PackagerState app;
    TickingWindow w(app);
    w.Begin();
    std::atomic<bool> stop{false};
    std::atomic<int> stopped{0};
    std::thread worker([&] {
        for (int i = 0; i < 200000 && !stop; ++i) {
            if (w.Report("Loading images (" + std::to_string(i) + ")", i % 100) == 0) {
                stopped = i;
                return;
            }
        }
    });
    for (int t = 0; t < 2000; ++t) {
        w.OnTimer(1);
        if (t == 1500)
            w.ProgressDialog()->OnCancel();  // the Cancel button, from the window thread
    }
    worker.join();
    stop = true;
    // The cancel reached the worker, which stopped at its next report.
    EXPECT_TRUE(stopped > 0 || w.IsCancelled());
    EXPECT_TRUE(w.IsCancelled());
}

}  // namespace
