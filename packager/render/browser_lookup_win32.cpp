// The browser look-ups on Windows: the App Paths registry keys, the settings store and
// the file system.
#include <windows.h>

#include <vector>

#include "packager/render/browser_discovery.h"

namespace {

const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// The default value of a key as text, with environment references expanded; empty when the
// key or the value is missing.
std::string DefaultValue(HKEY root, const std::string& subKey) {
    DWORD size = 0;
    if (RegGetValueA(root, subKey.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
        return std::string();
    }
    std::vector<char> value(size + 1, '\0');
    if (RegGetValueA(root, subKey.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr,
                     value.data(), &size) != ERROR_SUCCESS) {
        return std::string();
    }
    std::string text(value.data());
    // App Paths values are sometimes written with quotes around the path.
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

class CWin32BrowserLookup : public CSystemBrowserLookup {
  public:
    std::string FindOnPath(const std::string& name) override {
        char found[MAX_PATH];
        DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", MAX_PATH, found, nullptr);
        return n > 0 && n < MAX_PATH ? std::string(found, n) : std::string();
    }
    std::string AppPath(const std::string& exeName) override {
        std::string key = std::string(kAppPaths) + exeName;
        std::string path = DefaultValue(HKEY_CURRENT_USER, key);
        return path.empty() ? DefaultValue(HKEY_LOCAL_MACHINE, key) : path;
    }
    bool IsProgram(const std::string& path) override {
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
};

}  // namespace

std::unique_ptr<CBrowserLookup> CreateSystemBrowserLookup() {
    return std::make_unique<CWin32BrowserLookup>();
}
