#include "packager/render/rendered_page_source.h"

#include "packager/render/browser_discovery.h"
#include "packager/render/rendered_capture.h"
#include "platform/files.h"

namespace {

// The settle time a setting may ask for: a second to ten minutes.
int SettleMs(int seconds) {
    if (seconds < 1) {
        seconds = 1;
    }
    if (seconds > 600) {
        seconds = 600;
    }
    return seconds * 1000;
}

}  // namespace

CRenderOptions CRenderedPageSource::Options(const std::string& profile, GrabJob& job) const {
    CRenderOptions options;
    options.command = {m_strBrowser};
    options.strProfileFolder = profile;
    options.nSettleMs = m_nSettleMs;
    options.cancelled = [&job] { return PollProgress(job) == 0; };
    return options;
}

bool CRenderedPageSource::Capture(const std::string& address, const std::string& workFolder,
                                  GrabJob& job, CRenderedPage& page, std::string& failure) {
    failure.clear();
    if (ReportProgress(job, "Rendering " + address, 0) == 0) {
        return false;
    }
    // In the work folder, so that nothing of it outlives the grab; gone before packing.
    CRenderOptions options = Options(platform::JoinPath(workFolder, kBrowserProfileName), job);
    return CaptureRenderedPage(address, options, page, failure);
}

bool CRenderedPageSource::CheckCopy(const std::string& liveAddress, const std::string& mainPagePath,
                                    GrabJob& job, COfflineCheck& result, std::string& error) {
    error.clear();
    if (ReportProgress(job, "Checking the offline copy", 0) == 0) {
        return false;
    }
    std::string folder = platform::FolderOf(mainPagePath);
    CRenderOptions options = Options(platform::JoinPath(folder, kBrowserProfileName), job);
    return CheckOfflineCopy(liveAddress, mainPagePath, options, result, error);
}

std::unique_ptr<CRenderedPageSource> MakeRenderedPageSource(const CGrabOptions& options,
                                                            std::string& problem) {
    problem.clear();
    if (!options.bRender) {
        return nullptr;
    }
    CBrowserChoice browser = FindSystemBrowser();
    if (browser.strProgram.empty()) {
        problem = browser.strProblem;
        return nullptr;
    }
    return std::make_unique<CRenderedPageSource>(browser.strProgram,
                                                 SettleMs(options.nRenderTimeoutSeconds));
}
