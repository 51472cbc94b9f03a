// The browser look-ups on Linux: the environment, the PATH and the file system.
#include "packager/render/browser_discovery.h"
#include "platform/posix/program_search.h"

namespace {

class CPosixBrowserLookup : public CSystemBrowserLookup {
  public:
    std::string FindOnPath(const std::string& name) override {
        return platform::FindProgramOnPath(name);
    }
    std::string AppPath(const std::string&) override { return std::string(); }
    bool IsProgram(const std::string& path) override { return platform::IsProgramFile(path); }
};

}  // namespace

std::unique_ptr<CBrowserLookup> CreateSystemBrowserLookup() {
    return std::make_unique<CPosixBrowserLookup>();
}
