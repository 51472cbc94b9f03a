// The settings store on Linux: one INI file per program under the XDG config folder.
#include "platform/settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/ini_document.h"
#include "platform/settings_key.h"

namespace platform {

namespace {

std::mutex g_lock;  // the worker and the window thread may both use the store

// The folder that holds the company's files; empty when no home can be found.
std::string CompanyFolder(const std::string& company) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;  // relative values are to be ignored
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            struct passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || !*home)
            return std::string();
        base = JoinPath(home, ".config");
    }
    return JoinPath(base, company);
}

std::string StorePath() {
    SettingsKey key = CurrentSettingsKey();
    if (key.program.empty())
        return std::string();
    std::string folder = CompanyFolder(key.company);
    return folder.empty() ? folder : JoinPath(folder, key.program + ".ini");
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    int fd = FileOpen(path, kOpenReadOnly | kOpenBinary);
    if (fd < 0)
        return false;
    char buffer[8192];
    int n;
    text.clear();
    while ((n = FileRead(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    FileClose(fd);
    return n == 0;
}

bool MakeFolders(const std::string& folder) {
    if (FolderExists(folder))
        return true;
    std::string parent = FolderOf(folder);
    if (!parent.empty() && parent != folder && !MakeFolders(parent))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes the file through a temporary file beside it and a rename.
bool ReplaceFile(const std::string& path, const std::string& text) {
    std::string pattern = path + ".XXXXXX";
    std::string temp(pattern);
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return false;
    bool ok = FileWrite(fd, text.data(), static_cast<unsigned>(text.size())) ==
              static_cast<int>(text.size());
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

bool Load(CIniDocument& doc) {
    std::string path = StorePath();
    if (path.empty())
        return false;
    std::string text;
    if (ReadWholeFile(path, text))
        doc.Parse(text);
    return true;
}

bool Store(const std::string& section, const std::string& name, const std::string& value) {
    std::string path = StorePath();
    if (path.empty())
        return false;
    CIniDocument doc;
    std::string text;
    if (ReadWholeFile(path, text))
        doc.Parse(text);
    else if (errno != ENOENT)
        return false;  // never replace a file that exists but cannot be read
    if (!doc.Set(section, name, value))
        return false;
    return MakeFolders(FolderOf(path)) && ReplaceFile(path, doc.Text());
}

}  // namespace

std::string ReadSettingString(const std::string& section, const std::string& name,
                              const std::string& defaultValue) {
    std::lock_guard<std::mutex> hold(g_lock);
    CIniDocument doc;
    std::string value;
    if (!Load(doc) || !doc.Find(section, name, value))
        return defaultValue;
    return value;
}

bool WriteSettingString(const std::string& section, const std::string& name,
                        const std::string& value) {
    std::lock_guard<std::mutex> hold(g_lock);
    return Store(section, name, value);
}

int ReadSettingInt(const std::string& section, const std::string& name, int defaultValue) {
    std::lock_guard<std::mutex> hold(g_lock);
    CIniDocument doc;
    std::string value;
    if (!Load(doc) || !doc.Find(section, name, value) || value.empty())
        return defaultValue;
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return defaultValue;
    return static_cast<int>(n);
}

bool WriteSettingInt(const std::string& section, const std::string& name, int value) {
    std::lock_guard<std::mutex> hold(g_lock);
    return Store(section, name, std::to_string(value));
}

bool RemoveSettings() {
    std::lock_guard<std::mutex> hold(g_lock);
    std::string path = StorePath();
    if (path.empty())
        return false;
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        return false;
    rmdir(FolderOf(path).c_str());  // only when no other program of the company is left
    return true;
}

std::string SettingsLocation() {
    std::lock_guard<std::mutex> hold(g_lock);
    return StorePath();
}

unsigned ReadProfileFileString(const std::string& path, const std::string& section,
                               const std::string& key, const std::string& defaultValue,
                               char* buffer, unsigned size) {
    if (!buffer || size == 0)
        return 0;
    std::string text, value;
    CIniDocument doc;
    if (ReadWholeFile(path, text))
        doc.Parse(text);
    if (!doc.Find(section, key, value)) {
        value = defaultValue;
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
    }
    size_t n = value.size() < size ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

}  // namespace platform
