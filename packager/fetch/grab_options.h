// The options of one grab, built once before it (from the settings store, the command line,
// or a test) and handed to it; every layer of the grab reads them from here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/internet.h"

struct CGrabOptions {
    // Transfers at once over all servers, and to one server (scheme, host and port).
    int nMaxConnections = 16;
    int nMaxPerServer = 6;
    // One answer longer than this is abandoned ("too large"), and so is every file that
    // would take the grab as a whole (pages included) past the second bound.
    uint64_t nMaxResourceBytes = 256ull << 20;
    uint64_t nMaxGrabBytes = 2ull << 30;
    // Bounds of one fetch, so that a hostile or broken server costs a bounded amount of
    // memory and disk: a page is held whole in memory while it is rewritten, a download
    // streams to disk, and redirects are followed only so far.
    uint64_t nMaxPageBytes = 64ull << 20;
    uint64_t nMaxDownloadBytes = 1ull << 30;
    int nMaxRedirects = 20;
    // Time bounds of every request of the grab; the sessions that fetch open with them.
    platform::InternetTimeouts timeouts;
    // Styles kept (off: the classic output).
    bool bKeepStyles = true;
    // The main page as the browser shows it, settled for this many seconds.
    bool bRender = false;
    int nRenderTimeoutSeconds = 20;
};

// Where the options' values come from: section "Settings" of the settings store, or a
// test's own table.
class CSettingsSource {
  public:
    virtual ~CSettingsSource() = default;
    // The integer value, or fallback when it is missing or not a number.
    virtual int ReadInt(const char* name, int fallback) const = 0;
    // The string value, or "" when it is missing or not a string.
    virtual std::string ReadString(const char* name) const = 0;
};

// The options from the values KeepStyles, MaxConnections, MaxConnectionsPerServer,
// MaxResourceBytes, MaxGrabBytes, Render, RenderTimeout and RequestTimeout (seconds, the
// bound of a whole request); a missing or unusable value keeps its default.
CGrabOptions ReadGrabOptions(const CSettingsSource& settings);
// The same from the platform's settings store (the registry on Windows).
CGrabOptions ReadGrabOptions();
