// The corpus the benchmarks share when given no files: text, HTML and binaries that
// every machine set up for this project has. Paths only; callers decide what to do
// about one that is missing.
#pragma once

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

inline std::vector<std::string> StandardCorpus(std::initializer_list<const char*> binaries) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (const char* lic :
         {"Apache-2.0", "Artistic", "BSD", "CC0-1.0", "GFDL-1.2", "GFDL-1.3", "GPL-1", "GPL-2",
          "GPL-3", "LGPL-2", "LGPL-2.1", "LGPL-3", "MPL-1.1", "MPL-2.0"}) {
        files.push_back(std::string("/usr/share/common-licenses/") + lic);
    }
    files.push_back("/usr/share/doc/zlib1g-dev/examples/zlib_how.html");
    for (const char* page : {"index.htm", "main.htm", "nav.htm", "results.htm"}) {
        files.push_back(std::string(QB_SOURCE_DIR "/examples/site/") + page);
    }
    // CMake's find modules: about 2 MB of text in many small files.
    std::vector<std::string> modules;
    for (const auto& dir : fs::directory_iterator("/usr/share")) {
        fs::path m = dir.path() / "Modules";
        if (dir.path().filename().string().rfind("cmake-", 0) == 0 && fs::is_directory(m)) {
            for (const auto& f : fs::directory_iterator(m)) {
                std::string n = f.path().filename().string();
                if (n.rfind("Find", 0) == 0 && f.path().extension() == ".cmake") {
                    modules.push_back(f.path().string());
                }
            }
        }
    }
    std::sort(modules.begin(), modules.end());
    files.insert(files.end(), modules.begin(), modules.end());
    for (const char* bin : binaries) {
        files.push_back(bin);
    }
    return files;
}
