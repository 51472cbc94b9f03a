// The job record of a grab and its one way of reporting progress.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "packager/address/progress.h"
#include "packager/fetch/grab_options.h"

class CMainWindow;

// Progress callback: (context, text, position, range) → 0 when the caller is to stop (the user
// cancelled, or the window is gone), 1 when it may go on.
using ProgressCallback = int (*)(CMainWindow* pContext, std::string strText, int32_t nPosition,
                                 int32_t nRange);

// One per program, alive for the whole run.
struct GrabJob {
    std::string strMainPage;                  // local path of the saved main page
    ProgressCallback pfnProgress = nullptr;   // set once by the main window
    CMainWindow* pProgressContext = nullptr;  // first argument of pfnProgress
    // The options of the next grab, set before it starts.
    CGrabOptions options;

    // The last report, for PollProgress (which may run on another thread than the report).
    mutable std::mutex lastLock;
    mutable std::string strLastText;
    mutable int32_t nLastPosition = 0;
    mutable bool bReported = false;
};

// Calls the job's callback with its context, text, position and the range 100, and returns
// the answer (0 stop, otherwise go on). A job without a callback always goes on.
int ReportProgress(const GrabJob& job, const std::string& text, int32_t position);

// The job record's callback as a progress interface.
class CJobProgress : public CGrabProgress {
  public:
    explicit CJobProgress(const GrabJob& job) : m_job(job) {}
    int Report(const std::string& text, int32_t position) override {
        return ReportProgress(m_job, text, position);
    }

  private:
    const GrabJob& m_job;
};

// Asks the job's callback again with the text and position it was last given, so that a long
// wait for the network learns of a cancel without changing what is shown. 1 (go on) when
// nothing was reported for this job yet.
int PollProgress(const GrabJob& job);
