#include "packager/render/browser_discovery.h"

#include <cstdlib>

#include "platform/settings.h"

namespace {

bool HasSeparator(const std::string& name) {
    return name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
}

// A program named by the user: a path is taken as it is, a bare name is looked for on the
// PATH.
std::string NamedProgram(CBrowserLookup& lookup, const std::string& name) {
    if (HasSeparator(name)) {
        return lookup.IsProgram(name) ? name : std::string();
    }
    std::string found = lookup.FindOnPath(name);
    return !found.empty() && lookup.IsProgram(found) ? found : std::string();
}

// The browser the user named in `where`; a name that leads nowhere is not replaced by a
// guess, it is the problem.
CBrowserChoice NamedChoice(CBrowserLookup& lookup, const std::string& named,
                           const std::string& where, const char* how) {
    CBrowserChoice choice;
    choice.strProgram = NamedProgram(lookup, named);
    if (choice.strProgram.empty()) {
        choice.strProblem = where + " names " + named +
                            ", which is not a program that can be started. Name a "
                            "Chromium-family browser there (" +
                            how + ").";
    }
    return choice;
}

CBrowserChoice FindPosix(CBrowserLookup& lookup) {
    CBrowserChoice choice;
    std::string named = lookup.Environment("QB_BROWSER");
    if (!named.empty()) {
        return NamedChoice(lookup, named, "QB_BROWSER", "a path, or a name on the PATH");
    }
    static const char* const kNames[] = {"chromium", "chromium-browser", "google-chrome"};
    for (const char* name : kNames) {
        choice.strProgram = NamedProgram(lookup, name);
        if (!choice.strProgram.empty()) {
            return choice;
        }
    }
    choice.strProblem =
        "No browser to render the page with: chromium, chromium-browser and google-chrome "
        "are not on the PATH. Install Chromium, or name a Chromium-family browser in "
        "QB_BROWSER.";
    return choice;
}

CBrowserChoice FindWindows(CBrowserLookup& lookup) {
    CBrowserChoice choice;
    std::string named = lookup.Setting("Browser");
    if (!named.empty()) {
        return NamedChoice(lookup, named, "The setting Browser", "its full path");
    }
    static const char* const kExeNames[] = {"msedge.exe", "chrome.exe"};
    for (const char* exe : kExeNames) {
        std::string path = lookup.AppPath(exe);
        if (!path.empty() && lookup.IsProgram(path)) {
            choice.strProgram = path;
            return choice;
        }
    }
    choice.strProblem =
        "No browser to render the page with: neither Microsoft Edge (msedge.exe) nor Google "
        "Chrome (chrome.exe) is registered under App Paths. Install one, or name a "
        "Chromium-family browser in the setting Browser.";
    return choice;
}

}  // namespace

std::string CSystemBrowserLookup::Environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::string CSystemBrowserLookup::Setting(const std::string& name) {
    return platform::ReadSettingString("Settings", name, "");
}

CBrowserChoice FindBrowser(CBrowserLookup& lookup, BrowserRules rules) {
    return rules == BrowserRules::Windows ? FindWindows(lookup) : FindPosix(lookup);
}

CBrowserChoice FindSystemBrowser() {
    std::unique_ptr<CBrowserLookup> lookup = CreateSystemBrowserLookup();
#ifdef _WIN32
    return FindBrowser(*lookup, BrowserRules::Windows);
#else
    return FindBrowser(*lookup, BrowserRules::Posix);
#endif
}
