#include "packager/fetch/grab_job.h"

#include <mutex>

namespace {
// The last report, for PollProgress (which may run on another thread than the report).
std::mutex g_lastLock;
const GrabJob* g_pLastJob = nullptr;
std::string g_strLastText;
int32_t g_nLastPosition = 0;
}  // namespace

int ReportProgress(const GrabJob& job, const std::string& text, int32_t position) {
    {
        std::lock_guard<std::mutex> lock(g_lastLock);
        g_pLastJob = &job;
        g_strLastText = text;
        g_nLastPosition = position;
    }
    if (job.pfnProgress == nullptr) {
        return 1;
    }
    return job.pfnProgress(job.pProgressContext, text, position, 100);
}

int PollProgress(const GrabJob& job) {
    std::string text;
    int32_t position = 0;
    {
        std::lock_guard<std::mutex> lock(g_lastLock);
        if (g_pLastJob != &job) {
            return 1;
        }
        text = g_strLastText;
        position = g_nLastPosition;
    }
    if (job.pfnProgress == nullptr) {
        return 1;
    }
    return job.pfnProgress(job.pProgressContext, text, position, 100);
}
