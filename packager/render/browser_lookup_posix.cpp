// The browser look-ups on Linux: the environment, the PATH and the file system.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "packager/render/browser_discovery.h"

namespace {

class CPosixBrowserLookup : public CSystemBrowserLookup {
  public:
    std::string FindOnPath(const std::string& name) override {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/bin:/bin";
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t end = dirs.find(':', start);
            if (end == std::string::npos) {
                end = dirs.size();
            }
            std::string dir = dirs.substr(start, end - start);
            start = end + 1;
            if (dir.empty()) {
                continue;  // an empty entry would mean the current folder: not searched
            }
            std::string candidate = dir + "/" + name;
            if (IsProgram(candidate)) {
                return candidate;
            }
        }
        return std::string();
    }
    std::string AppPath(const std::string&) override { return std::string(); }
    bool IsProgram(const std::string& path) override {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               access(path.c_str(), X_OK) == 0;
    }
};

}  // namespace

std::unique_ptr<CBrowserLookup> CreateSystemBrowserLookup() {
    return std::make_unique<CPosixBrowserLookup>();
}
