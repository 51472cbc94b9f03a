#include "packager/render/rendered_page_source.h"

#include "packager/render/browser_discovery.h"
#include "packager/render/rendered_capture.h"
#include "platform/files.h"
#include "platform/settings.h"

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

bool CRenderedPageSource::Capture(const std::string& address, const std::string& workFolder,
                                  GrabJob& job, CRenderedPage& page, std::string& failure) {
    failure.clear();
    if (ReportProgress(job, "Rendering " + address, 0) == 0) {
        return false;
    }
    CRenderOptions options;
    options.command = {m_strBrowser};
    // In the work folder, so that nothing of it outlives the grab; gone before packing.
    options.strProfileFolder = platform::JoinPath(workFolder, "browser-profile");
    options.nSettleMs = m_nSettleMs;
    options.cancelled = [&job] { return PollProgress(job) == 0; };
    return CaptureRenderedPage(address, options, page, failure);
}

std::unique_ptr<CPageSource> MakeRenderedPageSource(bool render, std::string& problem) {
    problem.clear();
    if (!render && platform::ReadSettingInt("Settings", "Render", 0) == 0) {
        return nullptr;
    }
    CBrowserChoice browser = FindSystemBrowser();
    if (browser.strProgram.empty()) {
        problem = browser.strProblem;
        return nullptr;
    }
    int seconds = platform::ReadSettingInt("Settings", "RenderTimeout", 20);
    return std::make_unique<CRenderedPageSource>(browser.strProgram, SettleMs(seconds));
}
