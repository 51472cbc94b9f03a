#include "packager/fetch/grab_options.h"

#include <algorithm>

#include "platform/settings.h"

namespace {

const int kMostConnections = 64;
// A request may be bounded to just under a day.
const int kMostRequestSeconds = 86400;

int ReadCount(const CSettingsSource& settings, const char* name, int fallback) {
    int n = settings.ReadInt(name, fallback);
    return n < 1 ? fallback : std::min(n, kMostConnections);
}

// A byte count: a decimal string (which can say more than 2 GiB), else an integer value,
// which the Windows registry keeps as an unsigned 32-bit number.
uint64_t ReadBytes(const CSettingsSource& settings, const char* name, uint64_t fallback) {
    std::string text = settings.ReadString(name);
    uint64_t value = 0;
    bool digits = !text.empty() && text.size() <= 19;
    for (char c : text) {
        digits = digits && c >= '0' && c <= '9';
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (digits && value > 0) {
        return value;
    }
    int n = settings.ReadInt(name, 0);
    return n != 0 ? static_cast<uint64_t>(static_cast<uint32_t>(n)) : fallback;
}

class CStoreSettings : public CSettingsSource {
  public:
    int ReadInt(const char* name, int fallback) const override {
        return platform::ReadSettingInt("Settings", name, fallback);
    }
    std::string ReadString(const char* name) const override {
        return platform::ReadSettingString("Settings", name, "");
    }
};

}  // namespace

CGrabOptions ReadGrabOptions(const CSettingsSource& settings) {
    CGrabOptions options;
    options.nMaxConnections = ReadCount(settings, "MaxConnections", options.nMaxConnections);
    options.nMaxPerServer = ReadCount(settings, "MaxConnectionsPerServer", options.nMaxPerServer);
    options.nMaxResourceBytes = ReadBytes(settings, "MaxResourceBytes", options.nMaxResourceBytes);
    options.nMaxGrabBytes = ReadBytes(settings, "MaxGrabBytes", options.nMaxGrabBytes);
    options.bKeepStyles = settings.ReadInt("KeepStyles", 1) != 0;
    options.bRender = settings.ReadInt("Render", 0) != 0;
    options.nRenderTimeoutSeconds =
        settings.ReadInt("RenderTimeout", options.nRenderTimeoutSeconds);
    int seconds = settings.ReadInt("RequestTimeout", 0);
    if (seconds > 0 && seconds < kMostRequestSeconds) {
        options.timeouts.requestMs = seconds * 1000;
    }
    return options;
}

CGrabOptions ReadGrabOptions() {
    return ReadGrabOptions(CStoreSettings());
}
