#include "packager/render/rendered_capture.h"

#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

#include "packager/render/capture_scripts.h"
#include "packager/render/devtools_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// A browser asked to close gets this long before it is killed.
const int kCloseGraceMs = 3000;

int MsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
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

std::string StringValue(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Evaluates script in the page and waits for its promise; the value in value.
bool Evaluate(CDevToolsClient& client, const std::string& session, const char* script,
              int timeoutMs, json& value, std::string& error) {
    json result;
    json params = {{"expression", script}, {"awaitPromise", true}, {"returnByValue", true}};
    if (!client.Call("Runtime.evaluate", params, session, timeoutMs, result)) {
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
        error = "the page's document could not be taken: " + text;
        return false;
    }
    value = result.contains("result") ? result["result"].value("value", json()) : json();
    return true;
}

bool RunCapture(CDevToolsClient& client, const std::string& address, const CRenderOptions& options,
                CRenderedPage& page, std::string& error) {
    CPageWatch watch;
    watch.pPage = &page;
    client.SetEventHandler([&watch](const json& event) { watch.OnEvent(event); });
    const int wait = options.nCommandMs;
    json result;
    if (!client.Call("Target.createTarget", {{"url", "about:blank"}}, "", wait, result)) {
        return false;
    }
    std::string target = StringValue(result, "targetId");
    if (!client.Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, "", wait,
                     result)) {
        return false;
    }
    const std::string session = StringValue(result, "sessionId");
    json metrics = {{"width", options.nWidth},
                    {"height", options.nHeight},
                    {"deviceScaleFactor", 1},
                    {"mobile", false}};
    if (!client.Call("Page.enable", json::object(), session, wait, result) ||
        !client.Call("Network.enable", json::object(), session, wait, result) ||
        !client.Call("Emulation.setDeviceMetricsOverride", metrics, session, wait, result)) {
        return false;
    }
    const Clock::time_point start = Clock::now();
    if (!client.Call("Page.navigate", {{"url", address}}, session, wait, result)) {
        return false;
    }
    std::string navigateError = StringValue(result, "errorText");
    if (!navigateError.empty()) {
        error = "the browser could not open the page (" + navigateError + ")";
        return false;
    }
    watch.strMainFrame = StringValue(result, "frameId");
    // The page gets the settle time in all, for its load and for the quiet after it; one
    // that is still busy then is taken as it is.
    auto left = [&] {
        int ms = options.nSettleMs - MsSince(start);
        return ms < 0 ? 0 : ms;
    };
    const int quiet = options.nQuietMs;
    bool reached = false;
    if (!client.PumpUntil([&] { return watch.bLoaded; }, left(), reached) ||
        !client.PumpUntil([&] { return watch.Quiet(quiet); }, left(), reached)) {
        return false;
    }
    json value;
    if (!Evaluate(client, session, kScrollThroughScript, wait, value, error)) {
        return false;
    }
    // What the scrolling started (pictures coming into view) may finish even when the
    // settle time is spent.
    int after = left() > quiet * 4 ? left() : quiet * 4;
    if (!client.PumpUntil([&] { return watch.Quiet(quiet); }, after, reached) ||
        !Evaluate(client, session, kSerializeScript, wait, value, error)) {
        return false;
    }
    json taken = value.is_string() ? json::parse(value.get<std::string>(), nullptr, false) : json();
    if (!taken.is_object() || !taken.contains("text") || !taken["text"].is_string()) {
        error = "the page's document could not be taken (the page replaced what takes it)";
        return false;
    }
    page.page.strAddress = StringValue(taken, "address");
    page.page.strText = StringValue(taken, "text");
    if (page.page.strAddress.empty()) {
        page.page.strAddress = address;
    }
    if (taken.contains("frames") && taken["frames"].is_array()) {
        for (const json& frame : taken["frames"]) {
            if (frame.is_object()) {
                page.frames.push_back({StringValue(frame, "address"), StringValue(frame, "text")});
            }
        }
    }
    // The last events (late font answers) are in: take the ones still waiting.
    client.PumpUntil([] { return false; }, 0, reached);
    return true;
}

}  // namespace

bool CaptureRenderedPage(const std::string& address, const CRenderOptions& options,
                         CRenderedPage& page, std::string& error) {
    page = CRenderedPage();
    error.clear();
    std::error_code ignored;
    std::filesystem::remove_all(options.strProfileFolder, ignored);
    if (!std::filesystem::create_directories(options.strProfileFolder, ignored)) {
        error = "the browser's profile folder " + options.strProfileFolder + " cannot be made";
        return false;
    }
    std::vector<std::string> command = options.command;
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
    command.push_back("--user-data-dir=" + options.strProfileFolder);
    command.push_back("--window-size=" + std::to_string(options.nWidth) + "," +
                      std::to_string(options.nHeight));
    command.push_back("about:blank");

    CBrowserProcess browser;
    bool ok = browser.Start(command, error);
    if (ok) {
        CDevToolsClient client(browser, options.cancelled);
        std::string own;
        ok = RunCapture(client, address, options, page, own);
        if (!ok) {
            error = client.WasCancelled() ? std::string() : own.empty() ? client.Error() : own;
        }
        json result;
        bool polite = client.Error().empty() &&
                      client.Call("Browser.close", json::object(), "", kCloseGraceMs, result);
        browser.Stop(polite ? kCloseGraceMs : 0);
    }
    std::filesystem::remove_all(options.strProfileFolder, ignored);
    if (!ok) {
        page = CRenderedPage();
    }
    return ok;
}
