// What a grab left in its work folder, for tests to compare.
#pragma once

#include <map>
#include <string>

#include "platform/files.h"
#include "fixture_server.h"

using Files = std::map<std::string, std::string>;  // name → content

// Every saved file of a work folder with its content.
inline Files ReadFolder(const std::string& folder) {
    Files files;
    for (const platform::FindData& e : platform::ListFolder(platform::JoinPath(folder, "*.*"))) {
        // The folder's lock is the run's, not a saved file.
        if (e.name == "." || e.name == ".." || e.name == platform::kFolderLockName) {
            continue;
        }
        files[e.name] = ReadWhole(platform::JoinPath(folder, e.name));
    }
    return files;
}
