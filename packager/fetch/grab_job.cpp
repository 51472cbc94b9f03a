#include "packager/fetch/grab_job.h"

int ReportProgress(const GrabJob& job, const std::string& text, int32_t position) {
    {
        std::lock_guard<std::mutex> lock(job.lastLock);
        job.bReported = true;
        job.strLastText = text;
        job.nLastPosition = position;
    }
    return job.pProgress == nullptr ? 1 : job.pProgress->Report(text, position);
}

int PollProgress(const GrabJob& job) {
    std::string text;
    int32_t position = 0;
    {
        std::lock_guard<std::mutex> lock(job.lastLock);
        if (!job.bReported) {
            return 1;
        }
        text = job.strLastText;
        position = job.nLastPosition;
    }
    return job.pProgress == nullptr ? 1 : job.pProgress->Report(text, position);
}
