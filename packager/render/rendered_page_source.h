// The page source of --render (setting Render = 1): the browser that discovery found, with
// the settle time of the options (setting RenderTimeout, seconds, default 20).
#pragma once

#include <memory>
#include <string>

#include "packager/fetch/grab_options.h"
#include "packager/fetch/page_source.h"
#include "packager/render/offline_check.h"

class CRenderedPageSource : public CPageSource {
  public:
    CRenderedPageSource(std::string browser, int settleMs)
        : m_strBrowser(std::move(browser)), m_nSettleMs(settleMs) {}
    // Renders address with a profile in workFolder; progress says "Rendering <address>".
    bool Capture(const std::string& address, const std::string& workFolder, GrabJob& job,
                 CRenderedPage& page, std::string& failure) override;
    // --verify: checks the written copy, whose main page is mainPagePath (still in the work
    // folder), against liveAddress; progress says "Checking the offline copy". False with
    // the reason in error (empty when cancelled).
    bool CheckCopy(const std::string& liveAddress, const std::string& mainPagePath, GrabJob& job,
                   COfflineCheck& result, std::string& error);

  private:
    CRenderOptions Options(const std::string& profile, GrabJob& job) const;

    std::string m_strBrowser;
    int m_nSettleMs;
};

// The page source a run asks for: null when the options (the command line's --render or the
// setting Render) want no rendered capture, or when no browser can be found; problem then
// says what was looked for and how to name one (empty when none was wanted).
std::unique_ptr<CRenderedPageSource> MakeRenderedPageSource(const CGrabOptions& options,
                                                            std::string& problem);
