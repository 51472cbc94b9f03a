// The host that talks to the real system: windows and Win32 on Windows, the terminal
// elsewhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "extractor/extractor_host.h"

namespace spillet {

#ifdef _WIN32
// The windowed host; the command line comes from the system.
std::unique_ptr<CExtractorHost> MakeSystemHost();
#else
// The terminal host for "spillet input_file [output_dir]" (`args` without the program);
// the trace lines go to the standard output only when `verbose`.
std::unique_ptr<CExtractorHost> MakeTerminalHost(const std::vector<std::string>& args,
                                                 bool verbose);
#endif

}  // namespace spillet
