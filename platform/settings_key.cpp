#include "platform/settings_key.h"

#include <mutex>

#include "platform/settings.h"

namespace platform {

namespace {

std::mutex g_lock;  // the worker and the window thread may both use the store
SettingsKey g_key;

bool ValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

bool SetSettingsKey(const std::string& company, const std::string& program) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!ValidName(company) || !ValidName(program)) {
        g_key = SettingsKey();
        return false;
    }
    g_key = SettingsKey{company, program};
    return true;
}

SettingsKey CurrentSettingsKey() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_key;
}

}  // namespace platform
