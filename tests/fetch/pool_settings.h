// A settings store of a test's own for the fetch pool's values (MaxConnections and the
// like); it is removed afterwards and later reads give the defaults again.
#pragma once

#include <cstdlib>
#include <string>

#include "fixture_server.h"
#include "platform/settings.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

class PoolSettings {
  public:
    PoolSettings() {
#ifndef _WIN32
        // The store lives under the configuration folder: a scratch one, not the user's.
        m_strHome = MakeHostScratch("config");
        setenv("XDG_CONFIG_HOME", m_strHome.c_str(), 1);
        long id = static_cast<long>(getpid());
#else
        long id = static_cast<long>(_getpid());
#endif
        platform::SetSettingsKey("Quillbox Tests", "pool" + std::to_string(id));
    }
    ~PoolSettings() {
        platform::RemoveSettings();
        platform::SetSettingsKey("", "");
#ifndef _WIN32
        unsetenv("XDG_CONFIG_HOME");
        RunHost("rm -rf " + m_strHome);
#endif
    }
    PoolSettings(const PoolSettings&) = delete;
    PoolSettings& operator=(const PoolSettings&) = delete;

    bool Set(const char* name, int value) {
        return platform::WriteSettingInt("Settings", name, value);
    }
    bool SetText(const char* name, const std::string& value) {
        return platform::WriteSettingString("Settings", name, value);
    }

  private:
    std::string m_strHome;
};
