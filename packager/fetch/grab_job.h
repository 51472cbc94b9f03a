// The job record of a grab and its one way of reporting progress.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "packager/address/progress.h"
#include "packager/fetch/grab_options.h"

class CPageSource;

// What the window, the terminal or a test hands a grab.
struct GrabJob {
    std::string strMainPage;  // local path of the saved main page
    // Who follows the grab (the window, the terminal, a test); not owned. None: it goes on.
    CGrabProgress* pProgress = nullptr;
    // The options of the next grab, set before it starts.
    CGrabOptions options;
    // Set by --render (setting Render): the main page as the browser shows it (page_source.h).
    // Not owned. None: the page is fetched.
    CPageSource* pPageSource = nullptr;

    // The job's last report, for PollProgress (which may run on another thread than the
    // report).
    mutable std::mutex lastLock;
    mutable std::string strLastText;
    mutable int32_t nLastPosition = 0;
    mutable bool bReported = false;
};

// Reports text and position (of 100) to the job's progress and returns the answer (0 stop,
// otherwise go on). A job without one always goes on.
int ReportProgress(const GrabJob& job, const std::string& text, int32_t position);

// The job's reports as a progress interface, for the passes.
class CJobProgress : public CGrabProgress {
  public:
    explicit CJobProgress(const GrabJob& job) : m_job(job) {}
    int Report(const std::string& text, int32_t position) override {
        return ReportProgress(m_job, text, position);
    }

  private:
    const GrabJob& m_job;
};

// Reports again the text and position the job last reported, so that a long wait for the
// network learns of a cancel without changing what is shown. 1 (go on) when nothing was
// reported for this job yet.
int PollProgress(const GrabJob& job);
