// Which browser the rendered capture starts, on either platform's rules, with the
// platform's look-ups played by a table.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "packager/render/browser_discovery.h"

namespace {

class CFakeLookup : public CBrowserLookup {
  public:
    std::map<std::string, std::string> env, settings, path, appPaths;
    std::set<std::string> programs;

    std::string Environment(const std::string& name) override { return Get(env, name); }
    std::string Setting(const std::string& name) override { return Get(settings, name); }
    std::string FindOnPath(const std::string& name) override { return Get(path, name); }
    std::string AppPath(const std::string& exe) override { return Get(appPaths, exe); }
    bool IsProgram(const std::string& p) override { return programs.count(p) != 0; }

  private:
    static std::string Get(const std::map<std::string, std::string>& m, const std::string& k) {
        auto it = m.find(k);
        return it == m.end() ? std::string() : it->second;
    }
};

struct Case {
    const char* what;
    BrowserRules rules;
    std::map<std::string, std::string> env, settings, path, appPaths;
    std::set<std::string> programs;
    const char* expected;  // the program chosen; "" when none
    const char* problem;   // a part of the message when none
};

TEST(BrowserDiscovery, FollowsEachPlatformsOrder) {
    const std::set<std::string> all = {"/usr/bin/chromium",       "/usr/bin/chromium-browser",
                                       "/opt/google/chrome",      "/home/u/bin/mybrowser",
                                       "C:\\Edge\\msedge.exe",    "C:\\Chrome\\chrome.exe",
                                       "D:\\Portable\\chrome.exe"};
    const Case cases[] = {
        {"chromium first",
         BrowserRules::Posix,
         {},
         {},
         {{"chromium", "/usr/bin/chromium"}, {"google-chrome", "/opt/google/chrome"}},
         {},
         all,
         "/usr/bin/chromium",
         ""},
        {"then chromium-browser",
         BrowserRules::Posix,
         {},
         {},
         {{"chromium-browser", "/usr/bin/chromium-browser"},
          {"google-chrome", "/opt/google/chrome"}},
         {},
         all,
         "/usr/bin/chromium-browser",
         ""},
        {"then google-chrome",
         BrowserRules::Posix,
         {},
         {},
         {{"google-chrome", "/opt/google/chrome"}},
         {},
         all,
         "/opt/google/chrome",
         ""},
        {"QB_BROWSER as a path wins",
         BrowserRules::Posix,
         {{"QB_BROWSER", "/home/u/bin/mybrowser"}},
         {},
         {{"chromium", "/usr/bin/chromium"}},
         {},
         all,
         "/home/u/bin/mybrowser",
         ""},
        {"QB_BROWSER as a name on the PATH",
         BrowserRules::Posix,
         {{"QB_BROWSER", "mybrowser"}},
         {},
         {{"mybrowser", "/home/u/bin/mybrowser"}},
         {},
         all,
         "/home/u/bin/mybrowser",
         ""},
        {"QB_BROWSER naming nothing is not replaced by a guess",
         BrowserRules::Posix,
         {{"QB_BROWSER", "/nowhere/browser"}},
         {},
         {{"chromium", "/usr/bin/chromium"}},
         {},
         all,
         "",
         "QB_BROWSER names /nowhere/browser"},
        {"a found name that cannot be started is passed over",
         BrowserRules::Posix,
         {},
         {},
         {{"chromium", "/usr/bin/chromium"}, {"google-chrome", "/opt/google/chrome"}},
         {},
         {"/opt/google/chrome"},
         "/opt/google/chrome",
         ""},
        {"none on the PATH",
         BrowserRules::Posix,
         {},
         {},
         {},
         {},
         all,
         "",
         "chromium, chromium-browser and google-chrome are not on the PATH"},
        {"App Paths are not a Linux place",
         BrowserRules::Posix,
         {},
         {},
         {},
         {{"msedge.exe", "C:\\Edge\\msedge.exe"}},
         all,
         "",
         "QB_BROWSER"},
        {"Edge first",
         BrowserRules::Windows,
         {},
         {},
         {},
         {{"msedge.exe", "C:\\Edge\\msedge.exe"}, {"chrome.exe", "C:\\Chrome\\chrome.exe"}},
         all,
         "C:\\Edge\\msedge.exe",
         ""},
        {"then Chrome",
         BrowserRules::Windows,
         {},
         {},
         {},
         {{"chrome.exe", "C:\\Chrome\\chrome.exe"}},
         all,
         "C:\\Chrome\\chrome.exe",
         ""},
        {"a registered Edge that is gone",
         BrowserRules::Windows,
         {},
         {},
         {},
         {{"msedge.exe", "C:\\Old\\msedge.exe"}, {"chrome.exe", "C:\\Chrome\\chrome.exe"}},
         all,
         "C:\\Chrome\\chrome.exe",
         ""},
        {"the setting Browser wins",
         BrowserRules::Windows,
         {},
         {{"Browser", "D:\\Portable\\chrome.exe"}},
         {},
         {{"msedge.exe", "C:\\Edge\\msedge.exe"}},
         all,
         "D:\\Portable\\chrome.exe",
         ""},
        {"QB_BROWSER is not a Windows setting",
         BrowserRules::Windows,
         {{"QB_BROWSER", "D:\\Portable\\chrome.exe"}},
         {},
         {},
         {},
         all,
         "",
         "Microsoft Edge (msedge.exe)"},
        {"a setting naming nothing",
         BrowserRules::Windows,
         {},
         {{"Browser", "E:\\gone.exe"}},
         {},
         {{"msedge.exe", "C:\\Edge\\msedge.exe"}},
         all,
         "",
         "The setting Browser names E:\\gone.exe"},
        {"nothing registered",
         BrowserRules::Windows,
         {},
         {},
         {},
         {},
         all,
         "",
         "name a Chromium-family browser in the setting Browser"},
    };
    for (const Case& c : cases) {
        CFakeLookup lookup;
        lookup.env = c.env;
        lookup.settings = c.settings;
        lookup.path = c.path;
        lookup.appPaths = c.appPaths;
        lookup.programs = c.programs;
        CBrowserChoice choice = FindBrowser(lookup, c.rules);
        EXPECT_EQ(choice.strProgram, c.expected) << c.what;
        if (*c.expected == '\0') {
            EXPECT_NE(choice.strProblem.find(c.problem), std::string::npos)
                << c.what << ": " << choice.strProblem;
        } else {
            EXPECT_EQ(choice.strProblem, "") << c.what;
        }
    }
}

}  // namespace
