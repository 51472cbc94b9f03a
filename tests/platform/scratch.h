// A private scratch folder per test, removed with everything in it afterwards, and (Linux)
// an environment variable set for the life of an object.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/files.h"

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string name;
        if (platform::TempFileName(platform::GetTempFolder(), "qbp", 0, name) != 0 &&
            platform::FileRemove(name) && platform::FolderCreate(name))
            m_strPath = name;
    }
    ~ScratchFolder() {
        if (!m_strPath.empty())
            RemoveTree(m_strPath);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const {
        return platform::JoinPath(m_strPath, name);
    }

    // Writes a file with the given bytes; true on success.
    static bool Write(const std::string& path, const std::string& bytes) {
        int h = platform::FileOpen(path,
                                   platform::kOpenWriteOnly | platform::kOpenCreate |
                                       platform::kOpenTruncate | platform::kOpenBinary,
                                   platform::kModeReadWrite);
        if (h < 0)
            return false;
        bool ok = platform::FileWrite(h, bytes.data(), static_cast<unsigned>(bytes.size())) ==
                  static_cast<int>(bytes.size());
        return platform::FileClose(h) == 0 && ok;
    }
    // The whole content of a file, or "<missing>".
    static std::string Read(const std::string& path) {
        int h = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
        if (h < 0)
            return "<missing>";
        std::string out;
        char buffer[4096];
        int n;
        while ((n = platform::FileRead(h, buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<size_t>(n));
        platform::FileClose(h);
        return out;
    }

  private:
    static void RemoveTree(const std::string& folder) {
        for (const platform::FindData& e : platform::ListFolder(platform::JoinPath(folder, "*"))) {
            if (e.name == "." || e.name == "..")
                continue;
            std::string path = platform::JoinPath(folder, e.name);
            platform::SetAttributes(path, platform::kAttrNormal);
            if (e.attributes & platform::kAttrDirectory)
                RemoveTree(path);
            else
                platform::FileRemove(path);
        }
        platform::FolderRemove(folder);
    }

    std::string m_strPath;
};

#ifndef _WIN32
// Points an environment variable elsewhere for the life of the object.
class EnvOverride {
  public:
    EnvOverride(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (old)
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvOverride() {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

  private:
    const char* m_name;
    bool m_had = false;
    std::string m_old;
};
#endif
