// A stand-in for a Chromium-family browser on its DevTools pipe, for the Windows tests: reads
// NUL-ended JSON commands on its C runtime descriptor 3 and answers on descriptor 4, the way
// the mode says.
//
// Usage: scripted_browser MODE PIDFILE [browser flags...]
// It starts one helper process (as a browser starts renderers) and writes
// "<own pid> <helper pid>" to PIDFILE.
//   ok        answers like a browser showing a small page with one web font
//   garbage   answers every command with text that is not JSON
//   silent    reads every command and never answers
//   die       answers until the page is to be shown, then ends at once
//   stubborn  like ok, but ignores Browser.close and stays
// Started with a browser's flags only (named by the setting Browser), it answers as in mode
// ok, and its pictures of the page compare as 91.2 % alike.
// Usage: scripted_browser packager PIDFILE
// plays a packager: starts the stand-in in mode silent (which writes PIDFILE) as the
// rendered capture starts a browser, and waits to be killed.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "packager/render/browser_process.h"

namespace {

using nlohmann::json;

std::string g_mode;

void Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        int n = _write(4, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
        if (n <= 0) {
            ExitProcess(2);
        }
        done += static_cast<size_t>(n);
    }
}

void Send(const json& message) {
    Write(message.dump() + std::string(1, '\0'));
}

void Event(const char* method, const json& params) {
    Send({{"method", method}, {"params", params}, {"sessionId", "S"}});
}

void Answer(const json& command) {
    const std::string method = command.value("method", "");
    const json id = command.value("id", json());
    json result = json::object();
    if (method == "Target.createTarget") {
        result = {{"targetId", "T"}};
    } else if (method == "Target.attachToTarget") {
        result = {{"sessionId", "S"}};
    } else if (method == "Page.navigate") {
        if (g_mode == "die") {
            ExitProcess(1);
        }
        Send({{"id", id}, {"result", {{"frameId", "F"}, {"loaderId", "L"}}}});
        struct {
            const char *rid, *url, *type;
            int status;
        } const loads[] = {{"1", "http://127.0.0.1:9/final.htm", "Document", 404},
                           {"2", "http://127.0.0.1:9/used.ttf", "Font", 200}};
        for (const auto& l : loads) {
            Event("Network.requestWillBeSent",
                  {{"requestId", l.rid}, {"request", {{"url", l.url}}}});
            Event("Network.responseReceived",
                  {{"requestId", l.rid},
                   {"type", l.type},
                   {"frameId", "F"},
                   {"response", {{"url", l.url}, {"status", l.status}}}});
            Event("Network.loadingFinished", {{"requestId", l.rid}});
        }
        Event("Page.loadEventFired", json::object());
        return;
    } else if (method == "Runtime.evaluate") {
        const std::string expression = command["params"].value("expression", "");
        json page = {{"address", "http://127.0.0.1:9/final.htm"},
                     {"text",
                      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>"
                      "<p>built</p></body></html>"},
                     {"frames",
                      {{{"address", "http://127.0.0.1:9/quillbox-frame-1.htm"},
                        {"text", "<html><body>frame</body></html>"}}}}};
        json value = json(true);
        if (expression.find("JSON.stringify") != std::string::npos) {
            value = page.dump();
        } else if (expression.find("Math.sqrt") != std::string::npos) {
            value = 0.912;  // the comparison of the two pictures
        }
        result = {{"result", {{"type", value.type_name()}, {"value", value}}}};
    } else if (method == "Page.captureScreenshot") {
        result = {{"data", "iVBORw0KGgo="}};
    } else if (method == "Browser.close") {
        if (g_mode == "stubborn") {
            return;
        }
        Send({{"id", id}, {"result", json::object()}});
        ExitProcess(0);
    }
    Send({{"id", id}, {"result", result}});
}

std::string Self() {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    return std::string(self, n);
}

// The helper: the same program, started without any of our handles.
DWORD StartHelper() {
    std::string self = Self();
    std::string line = "\"" + self + "\" helper";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(self.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "helper") == 0) {
        Sleep(120000);
        return 0;
    }
    if (argc < 2) {
        return 2;
    }
    g_mode = argv[1];
    const char* pidFile = argc >= 3 ? argv[2] : nullptr;
    if (g_mode.compare(0, 2, "--") == 0) {
        g_mode = "ok";
        pidFile = nullptr;
    }
    if (g_mode == "packager") {
        CBrowserProcess browser;
        std::string error;
        if (!pidFile || !browser.Start({Self(), "silent", pidFile}, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        Sleep(120000);
        return 0;
    }
    DWORD helper = StartHelper();
    if (FILE* pids = pidFile ? std::fopen(pidFile, "w") : nullptr) {
        std::fprintf(pids, "%lu %lu\n", static_cast<unsigned long>(GetCurrentProcessId()),
                     static_cast<unsigned long>(helper));
        std::fclose(pids);
    }
    std::string pending;
    char chunk[65536];
    for (;;) {
        int n = _read(3, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        pending.append(chunk, static_cast<size_t>(n));
        size_t nul;
        while ((nul = pending.find('\0')) != std::string::npos) {
            std::string text = pending.substr(0, nul);
            pending.erase(0, nul + 1);
            if (g_mode == "silent") {
                continue;
            }
            if (g_mode == "garbage") {
                Write(std::string("{this is not json", 18));
                continue;
            }
            Answer(json::parse(text));
        }
    }
    if (g_mode == "stubborn") {
        Sleep(60000);
    }
    return 0;
}
