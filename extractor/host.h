// The host that talks to the real system: windows and Win32 on Windows, the terminal
// elsewhere.
#pragma once

#include <memory>

#include "extractor/extractor_host.h"

namespace spillet {

// argc/argv are used where the platform has no command line of its own (POSIX).
std::unique_ptr<CExtractorHost> MakeSystemHost(int argc, char** argv);

}  // namespace spillet
