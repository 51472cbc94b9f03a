// Finding the Chromium-family browser that renders a page for the rendered capture. The
// rules are the same code on every platform; only the look-ups (environment, PATH, the
// registry's App Paths keys, the settings) differ, so tests hand their own.
#pragma once

#include <memory>
#include <string>

// The platform's answers to the questions discovery asks.
class CBrowserLookup {
  public:
    virtual ~CBrowserLookup() = default;
    // The value of an environment variable; empty when it is not set.
    virtual std::string Environment(const std::string& name) = 0;
    // The setting of the packager's settings store; empty when it is not set.
    virtual std::string Setting(const std::string& name) = 0;
    // The full path of a program found by name on the PATH; empty when there is none.
    virtual std::string FindOnPath(const std::string& name) = 0;
    // The program registered for an executable name under the App Paths keys (the user's,
    // then the machine's); empty when none is registered.
    virtual std::string AppPath(const std::string& exeName) = 0;
    // Whether path names a program that can be started.
    virtual bool IsProgram(const std::string& path) = 0;
};

// The look-ups every platform answers alike: the environment and the settings store.
class CSystemBrowserLookup : public CBrowserLookup {
  public:
    std::string Environment(const std::string& name) override;
    std::string Setting(const std::string& name) override;
};

enum class BrowserRules { Posix, Windows };

struct CBrowserChoice {
    std::string strProgram;  // full path of the browser; empty when none was found
    std::string strProblem;  // why none was found: what was looked for and how to name one
};

// Linux: the program named by QB_BROWSER (a path, or a name looked for on the PATH), else
// chromium, chromium-browser or google-chrome on the PATH. Windows: the program named by
// the setting Browser, else Microsoft Edge, else Google Chrome through App Paths.
CBrowserChoice FindBrowser(CBrowserLookup& lookup, BrowserRules rules);

// The look-ups of the platform the program runs on.
std::unique_ptr<CBrowserLookup> CreateSystemBrowserLookup();

// FindBrowser with the system's look-ups and the rules of the platform it runs on.
CBrowserChoice FindSystemBrowser();
