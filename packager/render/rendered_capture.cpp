#include "packager/render/rendered_capture.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "packager/render/capture_scripts.h"
#include "packager/render/render_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// A browser asked to close gets this long before it is killed.
const int kCloseGraceMs = 3000;

int MsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string StringValue(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// What the browser's events say about the page while it loads.
struct CPageWatch {
    std::string strMainFrame;
    bool bLoaded = false;
    std::set<std::string> open;  // requests without an end yet
    Clock::time_point lastActivity = Clock::now();
    CRenderedPage* pPage = nullptr;

    void OnEvent(const json& event) {
        const std::string method = event.value("method", "");
        const json params = event.value("params", json::object());
        if (method == "Page.loadEventFired") {
            bLoaded = true;
            return;
        }
        if (method.compare(0, 8, "Network.") != 0) {
            return;
        }
        const std::string id = params.value("requestId", "");
        if (method == "Network.requestWillBeSent") {
            // A data: address is no request on the network.
            if (params.contains("request") &&
                params["request"].value("url", "").compare(0, 5, "data:") != 0) {
                open.insert(id);
                lastActivity = Clock::now();
            }
        } else if (method == "Network.loadingFinished" || method == "Network.loadingFailed") {
            open.erase(id);
            lastActivity = Clock::now();
        } else if (method == "Network.responseReceived" && params.contains("response")) {
            const json& response = params["response"];
            const std::string type = params.value("type", "");
            const std::string url = response.value("url", "");
            if (type == "Document" && params.value("frameId", "") == strMainFrame &&
                pPage->nStatus == 0 && response.contains("status") &&
                response["status"].is_number()) {
                pPage->nStatus = response["status"].get<uint32_t>();
            }
            if (!url.empty() && url.compare(0, 5, "data:") != 0) {
                pPage->loaded.push_back({url, type});
            }
        }
    }

    bool Quiet(int quietMs) const { return open.empty() && MsSince(lastActivity) >= quietMs; }
};

}  // namespace

CRenderSession::CRenderSession(const CRenderOptions& options) : m_options(options) {}

CRenderSession::~CRenderSession() {
    bool polite = false;
    if (m_pClient) {
        m_pClient->SetEventHandler(nullptr);
    }
    if (m_pClient && m_pClient->Error().empty()) {
        json result;
        polite = m_pClient->Call("Browser.close", json::object(), "", kCloseGraceMs, result);
    }
    m_browser.Stop(polite ? kCloseGraceMs : 0);
    if (m_bProfileMade) {
        std::error_code ignored;
        std::filesystem::remove_all(m_options.strProfileFolder, ignored);
    }
}

std::string CRenderSession::Error() const {
    if (m_pClient && m_pClient->WasCancelled()) {
        return std::string();
    }
    if (!m_strError.empty()) {
        return m_strError;
    }
    return m_pClient ? m_pClient->Error() : std::string();
}

bool CRenderSession::Open() {
    std::error_code ignored;
    std::filesystem::remove_all(m_options.strProfileFolder, ignored);
    m_bProfileMade = std::filesystem::create_directories(m_options.strProfileFolder, ignored);
    if (!m_bProfileMade) {
        m_strError =
            "the browser's profile folder " + m_options.strProfileFolder + " cannot be made";
        return false;
    }
    std::vector<std::string> command = m_options.command;
    static const char* const kFlags[] = {"--headless",
                                         "--no-sandbox",
                                         "--disable-gpu",
                                         "--no-first-run",
                                         "--disable-background-networking",
                                         "--disable-component-update",
                                         "--disable-sync",
                                         "--disable-extensions",
                                         "--hide-scrollbars",
                                         "--mute-audio"};
    command.insert(command.end(), std::begin(kFlags), std::end(kFlags));
    command.insert(command.end(), m_options.extraFlags.begin(), m_options.extraFlags.end());
    command.push_back("--user-data-dir=" + m_options.strProfileFolder);
    command.push_back("--window-size=" + std::to_string(m_options.nWidth) + "," +
                      std::to_string(m_options.nHeight));
    command.push_back("about:blank");
    if (!m_browser.Start(command, m_strError)) {
        return false;
    }
    m_pClient = std::make_unique<CDevToolsClient>(m_browser, m_options.cancelled);
    const int wait = m_options.nCommandMs;
    json result;
    if (!m_pClient->Call("Target.createTarget", {{"url", "about:blank"}}, "", wait, result)) {
        return false;
    }
    std::string target = StringValue(result, "targetId");
    if (!m_pClient->Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, "",
                         wait, result)) {
        return false;
    }
    m_strSession = StringValue(result, "sessionId");
    json metrics = {{"width", m_options.nWidth},
                    {"height", m_options.nHeight},
                    {"deviceScaleFactor", 1},
                    {"mobile", false}};
    return m_pClient->Call("Page.enable", json::object(), m_strSession, wait, result) &&
           m_pClient->Call("Network.enable", json::object(), m_strSession, wait, result) &&
           m_pClient->Call("Emulation.setDeviceMetricsOverride", metrics, m_strSession, wait,
                           result);
}

bool CRenderSession::Show(const std::string& address, CRenderedPage& page, bool offline,
                          std::vector<std::string>* tried) {
    if (!m_pClient) {
        return false;
    }
    CDevToolsClient& client = *m_pClient;
    // The watch lives as long as the handler, which takes the events of the later steps
    // too (until the next page is shown); page and tried outlive the session.
    auto shared = std::make_shared<CPageWatch>();
    CPageWatch& watch = *shared;
    watch.pPage = &page;
    const std::string session = m_strSession;
    client.SetEventHandler([shared, &client, session, tried](const json& event) {
        if (event.value("method", "") == "Fetch.requestPaused") {
            // The network is cut: local files pass, anything else is refused and noted.
            const json params = event.value("params", json::object());
            const std::string id = params.value("requestId", "");
            const std::string url =
                params.contains("request") ? params["request"].value("url", "") : "";
            if (url.compare(0, 5, "file:") == 0 || url.compare(0, 5, "data:") == 0) {
                client.Post("Fetch.continueRequest", {{"requestId", id}}, session);
            } else {
                if (tried != nullptr) {
                    tried->push_back(url);
                }
                client.Post("Fetch.failRequest",
                            {{"requestId", id}, {"errorReason", "InternetDisconnected"}}, session);
            }
            return;
        }
        shared->OnEvent(event);
    });
    const int wait = m_options.nCommandMs;
    json result;
    if (offline && !client.Call("Fetch.enable", {{"patterns", {{{"urlPattern", "*"}}}}}, session,
                                wait, result)) {
        return false;
    }
    const Clock::time_point start = Clock::now();
    if (!client.Call("Page.navigate", {{"url", address}}, session, wait, result)) {
        return false;
    }
    std::string navigateError = StringValue(result, "errorText");
    if (!navigateError.empty()) {
        m_strError = "the browser could not open the page (" + navigateError + ")";
        return false;
    }
    watch.strMainFrame = StringValue(result, "frameId");
    m_strMainFrame = watch.strMainFrame;
    m_nWorld = 0;
    // The page gets the settle time in all, for its load and for the quiet after it; one
    // that is still busy then is taken as it is.
    auto left = [&] {
        int ms = m_options.nSettleMs - MsSince(start);
        return ms < 0 ? 0 : ms;
    };
    const int quiet = m_options.nQuietMs;
    bool reached = false;
    if (!client.PumpUntil([&] { return watch.bLoaded; }, left(), reached) ||
        !client.PumpUntil([&] { return watch.Quiet(quiet); }, left(), reached)) {
        return false;
    }
    json value;
    if (!Evaluate(kScrollThroughScript, value)) {
        return false;
    }
    // What the scrolling started (pictures coming into view) may finish even when the
    // settle time is spent.
    int after = left() > quiet * 4 ? left() : quiet * 4;
    return client.PumpUntil([&] { return watch.Quiet(quiet); }, after, reached);
}

bool CRenderSession::Evaluate(const char* script, json& value) {
    json result;
    if (!m_pClient) {
        return false;
    }
    if (m_nWorld == 0 && !m_strMainFrame.empty()) {
        if (!m_pClient->Call("Page.createIsolatedWorld",
                             {{"frameId", m_strMainFrame}, {"worldName", "quillbox"}}, m_strSession,
                             m_options.nCommandMs, result)) {
            return false;
        }
        const json& id =
            result.contains("executionContextId") ? result["executionContextId"] : json();
        m_nWorld = id.is_number_integer() ? id.get<int64_t>() : 0;
    }
    json params = {{"expression", script}, {"awaitPromise", true}, {"returnByValue", true}};
    if (m_nWorld != 0) {
        params["contextId"] = m_nWorld;
    }
    if (!m_pClient->Call("Runtime.evaluate", params, m_strSession, m_options.nCommandMs, result)) {
        return false;
    }
    if (result.contains("exceptionDetails")) {
        const json& details = result["exceptionDetails"];
        std::string text = StringValue(details, "text");
        if (details.contains("exception") && details["exception"].is_object()) {
            std::string description = StringValue(details["exception"], "description");
            if (!description.empty()) {
                text = description.substr(0, description.find('\n'));
            }
        }
        m_strError = "a script in the page failed: " + text;
        return false;
    }
    value = result.contains("result") ? result["result"].value("value", json()) : json();
    return true;
}

bool CRenderSession::Screenshot(std::string& png) {
    json result;
    if (!m_pClient || !m_pClient->Call("Page.captureScreenshot", {{"format", "png"}}, m_strSession,
                                       m_options.nCommandMs, result)) {
        return false;
    }
    png = StringValue(result, "data");
    if (png.empty()) {
        m_strError = "the browser gave no picture of the page";
        return false;
    }
    return true;
}

bool CaptureRenderedPage(const std::string& address, const CRenderOptions& options,
                         CRenderedPage& page, std::string& error) {
    page = CRenderedPage();
    bool ok = false;
    {
        CRenderSession session(options);
        json value;
        ok = session.Open() && session.Show(address, page) &&
             session.Evaluate(kSerializeScript, value);
        json taken = ok && value.is_string() ? json::parse(value.get<std::string>(), nullptr, false)
                                             : json();
        if (ok && (!taken.is_object() || !taken.contains("text") || !taken["text"].is_string())) {
            ok = false;
            error = "the page's document could not be taken (the page replaced what takes it)";
        } else if (ok) {
            page.page.strAddress = StringValue(taken, "address");
            page.page.strText = StringValue(taken, "text");
            if (page.page.strAddress.empty()) {
                page.page.strAddress = address;
            }
            if (taken.contains("frames") && taken["frames"].is_array()) {
                for (const json& frame : taken["frames"]) {
                    if (frame.is_object()) {
                        page.frames.push_back(
                            {StringValue(frame, "address"), StringValue(frame, "text")});
                    }
                }
            }
        } else {
            error = session.Error();
        }
    }
    if (!ok) {
        page = CRenderedPage();
    }
    return ok;
}
