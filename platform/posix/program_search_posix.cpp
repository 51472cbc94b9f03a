#include "platform/posix/program_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

bool IsProgramFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FindProgramOnPath(const std::string& name) {
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
            continue;
        }
        std::string candidate = dir + "/" + name;
        if (IsProgramFile(candidate)) {
            return candidate;
        }
    }
    return std::string();
}

}  // namespace platform
