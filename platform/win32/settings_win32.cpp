// The settings store on Windows: the registry under HKCU\Software\<company>\<program>.
#include "platform/settings.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/settings_key.h"

namespace platform {

namespace {

std::string ProgramKey() {
    SettingsKey key = CurrentSettingsKey();
    if (key.program.empty())
        return std::string();
    return "Software\\" + key.company + "\\" + key.program;
}

// Opens (or, with `create`, creates) the section's key; null on failure.
HKEY OpenSection(const std::string& section, bool create) {
    std::string program = ProgramKey();
    // A backslash would reach into another key.
    if (program.empty() || section.empty() || section.find('\\') != std::string::npos)
        return nullptr;
    std::string path = program + "\\" + section;
    HKEY key = nullptr;
    LONG rc = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                       KEY_READ | KEY_WRITE, nullptr, &key, nullptr)
                     : RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

std::string ReadSettingString(const std::string& section, const std::string& name,
                              const std::string& defaultValue) {
    HKEY key = OpenSection(section, false);
    if (!key)
        return defaultValue;
    std::string result = defaultValue;
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<char> data(bytes + 1, '\0');
        DWORD got = bytes;
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(data.data()), &got) == ERROR_SUCCESS) {
            // The stored text may or may not carry its NUL.
            result.assign(data.data(), strnlen(data.data(), got));
        }
    }
    RegCloseKey(key);
    return result;
}

bool WriteSettingString(const std::string& section, const std::string& name,
                        const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos)
        return false;  // kept the same as the profile-file store
    HKEY key = OpenSection(section, true);
    if (!key)
        return false;
    LONG rc =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

int ReadSettingInt(const std::string& section, const std::string& name, int defaultValue) {
    HKEY key = OpenSection(section, false);
    if (!key)
        return defaultValue;
    DWORD type = 0, value = 0, bytes = sizeof value;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof value)
        return defaultValue;
    return static_cast<int>(value);
}

bool WriteSettingInt(const std::string& section, const std::string& name, int value) {
    HKEY key = OpenSection(section, true);
    if (!key)
        return false;
    DWORD data = static_cast<DWORD>(value);
    LONG rc = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                             sizeof data);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool RemoveSettings() {
    std::string program = ProgramKey();
    if (program.empty())
        return false;
    LONG rc = RegDeleteTreeA(HKEY_CURRENT_USER, program.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return false;
    RegDeleteKeyA(HKEY_CURRENT_USER, program.substr(0, program.rfind('\\')).c_str());  // if empty
    return true;
}

std::string SettingsLocation() {
    std::string program = ProgramKey();
    return program.empty() ? program : "HKEY_CURRENT_USER\\" + program;
}

unsigned ReadProfileFileString(const std::string& path, const std::string& section,
                               const std::string& key, const std::string& defaultValue,
                               char* buffer, unsigned size) {
    if (!buffer || size == 0)
        return 0;
    return GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                    size, path.c_str());
}

}  // namespace platform
