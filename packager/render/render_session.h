// One browser, started for one job with a throw-away profile, showing pages in one tab: the
// steps that the rendered capture and the check of an offline copy share. The browser ends
// and its profile folder goes when the session is destroyed, whatever happened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "packager/fetch/page_source.h"
#include "packager/render/browser_process.h"
#include "packager/render/devtools_client.h"
#include "packager/render/rendered_capture.h"

class CRenderSession {
  public:
    explicit CRenderSession(const CRenderOptions& options);
    ~CRenderSession();
    CRenderSession(const CRenderSession&) = delete;
    CRenderSession& operator=(const CRenderSession&) = delete;

    // Makes the profile, starts the browser and opens its tab. False with Error().
    bool Open();
    // Shows address: waits for its load and for the network to be quiet (the settle time in
    // all), scrolls through it once and back, and lets what that started come in. Records
    // the page's status and what the browser loaded in page. With offline set, every request
    // that is not for a local file is refused and its address recorded in tried.
    bool Show(const std::string& address, CRenderedPage& page, bool offline = false,
              std::vector<std::string>* tried = nullptr);
    // Evaluates script in the page and waits for its promise; its value in value. The
    // script runs in a world of its own beside the page's scripts: it sees the same
    // document, but nothing the page did to the script objects (a page that replaced
    // JSON.stringify or Array.from).
    bool Evaluate(const char* script, nlohmann::json& value);
    // The tab's picture as PNG data in base64.
    bool Screenshot(std::string& png);

    // Why the last step failed; empty when cancelled.
    std::string Error() const;

  private:
    CRenderOptions m_options;
    CBrowserProcess m_browser;
    std::unique_ptr<CDevToolsClient> m_pClient;
    std::string m_strSession;
    // The page's main frame, and the context of the world our scripts run in (made at the
    // first script after the page was shown; 0 until then).
    std::string m_strMainFrame;
    int64_t m_nWorld = 0;
    std::string m_strError;
    bool m_bProfileMade = false;
};
