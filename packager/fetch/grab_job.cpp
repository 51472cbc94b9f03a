#include "packager/fetch/grab_job.h"

int ReportProgress(const GrabJob& job, const std::string& text, int32_t position) {
    if (job.pfnProgress == nullptr) {
        return 1;
    }
    return job.pfnProgress(job.pProgressContext, text, position, 100);
}
